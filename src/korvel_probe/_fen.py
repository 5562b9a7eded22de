"""FEN: reading any board's fields, and a board of two kings and one rook of either colour (or
the two kings alone, the rook taken) as a position; writing one."""

import re
from typing import Dict, List, NamedTuple, Tuple

_PIECE_NAMES = {"p": "pawn", "n": "knight", "b": "bishop", "r": "rook", "q": "queen", "k": "king"}
_CASTLING = re.compile(r"-|[KQkqA-Ha-h]{1,4}")
_EN_PASSANT = re.compile(r"-|[a-h][36]")
_COUNT = re.compile(r"[0-9]{1,9}")  # ASCII digits only: isdigit() takes '²', int() takes '٣'


class Fields(NamedTuple):
    """A FEN read field by field: the square numbers (x * 8 + y) of each piece letter."""

    pieces: Dict[str, List[int]]
    white_to_move: bool
    castling: str
    en_passant: str
    fullmove: int


def fail(fen: str, why: str) -> ValueError:
    shown = repr(fen) if len(fen) <= 100 else repr(fen[:100]) + "..."
    return ValueError(f"FEN {shown}: {why}")


def _pieces(fen: str, placement: str) -> Dict[str, List[int]]:
    """The squares of each piece letter, from the first field, rank 8 first."""
    ranks = placement.split("/")
    if len(ranks) != 8:
        raise fail(fen, f"the board has {len(ranks)} ranks, not 8")
    found: Dict[str, List[int]] = {}
    for rank, text in zip(range(7, -1, -1), ranks):
        x = 0
        for c in text:
            if c in "12345678":
                x += int(c)
                continue
            if c.lower() not in _PIECE_NAMES:
                raise fail(fen, f"{c!r} is no piece letter or count of empty squares")
            if x < 8:
                found.setdefault(c, []).append(x * 8 + rank)
            x += 1
        if x != 8:
            raise fail(fen, f"rank {rank + 1} ({text[:20]!r}) covers {x} files, not 8")
    return found


def fields(fen: str) -> Fields:
    """Any board's FEN, checked field by field; the move counters may be left out."""
    if not isinstance(fen, str):
        raise TypeError(f"a FEN is a str, not {type(fen).__name__}")
    parts = fen.split()
    if not 2 <= len(parts) <= 6:
        count = f"{len(parts)} field" + ("" if len(parts) == 1 else "s")
        raise fail(fen, f"it has {count}: a FEN has from 2 (the board and the side to move) to 6")
    found = _pieces(fen, parts[0])
    if parts[1] not in ("w", "b"):
        raise fail(fen, f"the side to move is {parts[1][:20]!r}, not 'w' or 'b'")
    castling, en_passant, halfmove, fullmove = parts[2:] + ["-", "-", "0", "1"][len(parts) - 2:]
    if not _CASTLING.fullmatch(castling):
        raise fail(fen, f"castling rights {castling[:20]!r} are not '-' or letters of KQkq")
    if not _EN_PASSANT.fullmatch(en_passant):
        raise fail(fen, f"en passant square {en_passant[:20]!r} is not '-' or a square on rank 3 or 6")
    if not _COUNT.fullmatch(halfmove):
        raise fail(fen, f"the halfmove clock {halfmove[:20]!r} is not a count (up to 9 digits)")
    if not _COUNT.fullmatch(fullmove) or int(fullmove) < 1:
        raise fail(fen, f"the move number {fullmove[:20]!r} is not a count from 1 (up to 9 digits)")
    return Fields(found, parts[1] == "w", castling, en_passant, int(fullmove))


def read(fen: str) -> Tuple[int, int, int, bool, bool]:
    """The defending king's, attacking king's and rook's square numbers, whether the attacking
    side (the rook's colour) is to move, and whether it is white. Two kings alone are the
    position after the rook was taken: the king to move attacks, the rook stands on the other."""
    board = fields(fen)
    others = sorted({_PIECE_NAMES[c.lower()] for c in board.pieces if c not in "kKrR"})
    if others:
        raise fail(fen, f"it has a {others[0]}: only two kings and a rook can stand here")
    counts = {c: len(board.pieces.get(c, ())) for c in "kKrR"}
    if counts["k"] != 1 or counts["K"] != 1 or counts["r"] + counts["R"] > 1:
        listed = ", ".join(f"{n} {c}" for c, n in counts.items() if n)
        raise fail(fen, f"it has {listed or 'no pieces'}: give one K, one k and at most one rook, R or r")
    if board.castling != "-":
        raise fail(fen, f"castling rights {board.castling!r}: this endgame is played without castling, give '-'")
    if board.en_passant != "-":
        raise fail(fen, f"en passant square {board.en_passant!r}: there are no pawns, give '-'")
    if counts["r"] + counts["R"] == 0:
        white_attacks = board.white_to_move
        taken = board.pieces["k" if white_attacks else "K"][0]
        return taken, board.pieces["K" if white_attacks else "k"][0], taken, True, white_attacks
    white_attacks = counts["R"] == 1
    attacking, defending = ("K", "k") if white_attacks else ("k", "K")
    return (board.pieces[defending][0], board.pieces[attacking][0],
            board.pieces["R" if white_attacks else "r"][0], board.white_to_move == white_attacks, white_attacks)


def write(d: int, a: int, r: int, attacker_to_move: bool, white_attacks: bool) -> str:
    """The FEN of a position; a rook on the defending king's square has been taken."""
    letters = {d: "k" if white_attacks else "K", a: "K" if white_attacks else "k"}
    if r != d:
        letters[r] = "R" if white_attacks else "r"
    ranks = []
    for y in range(7, -1, -1):
        rank, empty = "", 0
        for x in range(8):
            letter = letters.get(x * 8 + y)
            if letter is None:
                empty += 1
                continue
            rank += (str(empty) if empty else "") + letter
            empty = 0
        ranks.append(rank + (str(empty) if empty else ""))
    side = "w" if attacker_to_move == white_attacks else "b"
    return "/".join(ranks) + f" {side} - - 0 1"

