"""Reading FEN: a board with two kings and one rook, of either colour, and the side to move."""

from typing import Dict, List, Tuple

_OTHER_PIECES = {"p": "pawn", "n": "knight", "b": "bishop", "q": "queen"}


def _fail(fen: str, why: str) -> ValueError:
    return ValueError(f"FEN {fen!r}: {why}")


def _pieces(fen: str, placement: str) -> Dict[str, List[int]]:
    """The squares of each piece letter, from the first field, rank 8 first."""
    ranks = placement.split("/")
    if len(ranks) != 8:
        raise _fail(fen, f"the board has {len(ranks)} ranks, not 8")
    found: Dict[str, List[int]] = {}
    for rank, text in zip(range(7, -1, -1), ranks):
        x = 0
        for c in text:
            if c in "12345678":
                x += int(c)
                continue
            if c.lower() in _OTHER_PIECES:
                raise _fail(fen, f"it has a {_OTHER_PIECES[c.lower()]}: only two kings and a rook can stand here")
            if c not in "kKrR":
                raise _fail(fen, f"{c!r} is no piece letter or count of empty squares")
            if x < 8:
                found.setdefault(c, []).append(x * 8 + rank)
            x += 1
        if x != 8:
            raise _fail(fen, f"rank {rank + 1} ({text!r}) covers {x} files, not 8")
    return found


def read(fen: str) -> Tuple[int, int, int, bool]:
    """The defending king's, attacking king's and rook's square numbers and whether the
    attacking side, the rook's colour, is to move."""
    if not isinstance(fen, str):
        raise TypeError(f"a FEN is a str, not {type(fen).__name__}")
    fields = fen.split()
    if not 2 <= len(fields) <= 6:
        count = f"{len(fields)} field" + ("" if len(fields) == 1 else "s")
        raise _fail(fen, f"it has {count}: a FEN has from 2 (the board and the side to move) to 6")
    found = _pieces(fen, fields[0])
    counts = {c: len(found.get(c, ())) for c in "kKrR"}
    if counts["k"] != 1 or counts["K"] != 1 or counts["r"] + counts["R"] != 1:
        listed = ", ".join(f"{n} {c}" for c, n in counts.items() if n)
        raise _fail(fen, f"it has {listed or 'no pieces'}: give one K, one k and one rook, R or r")
    if fields[1] not in ("w", "b"):
        raise _fail(fen, f"the side to move is {fields[1]!r}, not 'w' or 'b'")
    rook_is_white = counts["R"] == 1
    rest = fields[2:] + ["-", "-", "0", "1"][len(fields) - 2:]
    if rest[0] != "-":
        raise _fail(fen, f"castling rights {rest[0]!r}: this endgame is played without castling, give '-'")
    if rest[1] != "-":
        raise _fail(fen, f"en passant square {rest[1]!r}: there are no pawns, give '-'")
    if not rest[2].isdigit() or not rest[3].isdigit() or int(rest[3]) < 1:
        raise _fail(fen, f"the move counters {rest[2]!r} {rest[3]!r} are not counts")
    attacking_king, defending_king = ("K", "k") if rook_is_white else ("k", "K")
    rook = found["R" if rook_is_white else "r"][0]
    return (found[defending_king][0], found[attacking_king][0], rook,
            (fields[1] == "w") == rook_is_white)
