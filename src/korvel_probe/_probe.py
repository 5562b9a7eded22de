"""Probing positions given by their squares: values, moves, lines to mate, FEN."""

from typing import Iterator, List, NamedTuple, Tuple

from . import _fen, _index
from ._index import NO_POSITION, index
from ._rules import CAPTURE, illegality, in_check, position_number, successors
from ._squares import COORDINATES, NAMES, Square, square_number

CHECKMATE = 0
"""The value of a position whose defending king, to move, is checkmated."""
DRAW = 100
"""The value of a stalemate, and of the position after the defending king has taken the rook."""
ROOK_CAPTURABLE = 101
"""The value of a position whose defending king, to move, can take the rook: a draw."""


class Position(NamedTuple):
    """A position on the whole board, its squares as (x, y); value(*position) probes it.

    The rook on the defending king's square, the attacking side to move, is the position
    after the king has taken it: king against king, a draw, the game over."""

    defending_king: Tuple[int, int]
    attacking_king: Tuple[int, int]
    rook: Tuple[int, int]
    attacker_to_move: bool


class Move(NamedTuple):
    """A legal move and what follows it. category and dtm are the outcome for the side to
    move after it, as tablebase explorers give them: "loss" and a negative dtm after a
    winning move; dtm is the signed plies to mate, 0 for a draw and for checkmate."""

    uci: str
    san: str
    value: int
    category: str
    dtm: int


def outcome(value: int, attacker_to_move: bool) -> Tuple[str, int]:
    """The category and signed distance to mate of a position's value, for its side to move."""
    if value >= DRAW:
        return "draw", 0
    return ("win", value) if attacker_to_move else ("loss", -value)


# The outcome after a move, by the side that made it and the value it leads to.
_AFTER = {mover: [outcome(v, not mover) for v in range(256)] for mover in (False, True)}


def in_words(value: int, attacker_to_move: bool) -> str:
    """A position's value for its side to move, in words: "win, mate in 3 (5 plies)"."""
    if value == ROOK_CAPTURABLE:
        return "draw, the rook can be taken"
    if value == DRAW:
        return "draw, king against king" if attacker_to_move else "draw, stalemate"
    if attacker_to_move:
        return f"win, mate in {(value + 1) // 2} ({value} {'ply' if value == 1 else 'plies'})"
    return "loss, checkmated" if value == CHECKMATE else f"loss, mated in {value // 2} ({value} plies)"


def _locate(defending_king: Square, attacking_king: Square, rook: Square,
            attacker_to_move: bool) -> Tuple[bytes, int, int, int, int]:
    """The index, the position's number in it and its three square numbers; raises for a
    malformed or illegal position, in the caller's squares."""
    d = square_number("defending_king", defending_king)
    a = square_number("attacking_king", attacking_king)
    r = square_number("rook", rook)
    if type(attacker_to_move) is not bool:
        raise TypeError("attacker_to_move must be a bool (True: the king and rook to move),"
                        f" not {type(attacker_to_move).__name__}")
    found = _index.INDEX or index()
    number = position_number(attacker_to_move, d, a, r)
    if found[number] == NO_POSITION:
        why = illegality(attacker_to_move, d, a, r)
        if why is not None:
            raise ValueError(f"illegal position: {why}")
        if r != d:  # legal, yet not in korvel's lists
            raise LookupError(f"korvel's lists have no entry for {_position(number)}")
    return found, number, d, a, r


def _position(number: int) -> Position:
    return Position(COORDINATES[number >> 12 & 63], COORDINATES[number >> 6 & 63],
                    COORDINATES[number & 63], number >> 18 == 1)


def _best(found: bytes, value: int, moves: List[Tuple[int, int, int]]) -> List[Tuple[int, int, int]]:
    return [move for move in moves
            if (DRAW if move[2] == CAPTURE else found[move[2]]) == value - 1]


def value(defending_king: Square, attacking_king: Square, rook: Square,
          attacker_to_move: bool) -> int:
    """The position's value: CHECKMATE (0), 1 to 99 plies to mate, DRAW (100, stalemate or
    the rook taken) or ROOK_CAPTURABLE (101, the defending king to move can take the rook).

    Every legal position with the attacking side to move and its rook on the board is a
    forced mate, in 1 to 31 plies; with the defending king to move the mates take up to 32."""
    found, number, _, _, _ = _locate(defending_king, attacking_king, rook, attacker_to_move)
    v = found[number]
    return DRAW if v == NO_POSITION else v


def moves(defending_king: Square, attacking_king: Square, rook: Square,
          attacker_to_move: bool) -> List[Move]:
    """Every legal move of the side to move, best first: the attacking side's by ascending
    value after the move, the defending king's by descending value (taking the rook leads to
    DRAW), moves of one value in UCI order. best_moves() are the UCI of the leading moves
    that share the first one's value. None once the game is over: checkmate, stalemate, or
    the rook taken."""
    found, number, d, a, r = _locate(defending_king, attacking_king, rook, attacker_to_move)
    if found[number] == NO_POSITION:  # the rook taken
        return []
    outcomes = _AFTER[attacker_to_move]
    listed = []
    for start, end, after in successors(attacker_to_move, d, a, r):
        uci = NAMES[start] + NAMES[end]
        if after == CAPTURE:
            listed.append(Move(uci, "Kx" + NAMES[end], DRAW, *outcomes[DRAW]))
            continue
        v = found[after]
        if not attacker_to_move:  # a lone king gives no check
            listed.append(Move(uci, "K" + NAMES[end], v, *outcomes[v]))
            continue
        check = "#" if v == CHECKMATE else "+" if in_check(d, after >> 6 & 63, after & 63) else ""
        listed.append(Move(uci, ("R" if start == r else "K") + NAMES[end] + check, v, *outcomes[v]))
    if attacker_to_move:
        listed.sort(key=lambda move: (move.value, move.uci))
    else:
        listed.sort(key=lambda move: (-move.value, move.uci))
    return listed


def best_moves(defending_king: Square, attacking_king: Square, rook: Square,
               attacker_to_move: bool) -> List[str]:
    """The moves that keep the value, in UCI notation ("a8a1"), sorted.

    These are the moves to a position of value v - 1, taking the rook counting as DRAW:
    for a mate in v plies, every move of the attacking side that mates in v - 1, and every
    move of the defending king that holds out as long as it can; at ROOK_CAPTURABLE, the
    capture of the rook, the only move that does not lose; none at CHECKMATE, at a
    stalemate, where the defending king has no move, and once the rook is taken."""
    found, number, d, a, r = _locate(defending_king, attacking_king, rook, attacker_to_move)
    if found[number] == NO_POSITION:
        return []
    kept = _best(found, found[number], successors(attacker_to_move, d, a, r))
    return sorted(NAMES[start] + NAMES[end] for start, end, _ in kept)


def mate_line(defending_king: Square, attacking_king: Square, rook: Square,
              attacker_to_move: bool) -> List[str]:
    """One line of best moves to checkmate, in UCI notation: the first of best_moves at
    every ply, as many moves as the value. Empty at CHECKMATE, and where there is no mate
    to force (DRAW, ROOK_CAPTURABLE): value() tells which."""
    found, number, d, a, r = _locate(defending_king, attacking_king, rook, attacker_to_move)
    line = []
    while 0 < found[number] < DRAW:
        kept = _best(found, found[number], successors(number >> 18 == 1, d, a, r))
        if not kept:
            raise LookupError(f"korvel's values give no best move in {_position(number)}")
        start, end, number = min(kept, key=lambda move: NAMES[move[0]] + NAMES[move[1]])
        line.append(NAMES[start] + NAMES[end])
        d, a, r = number >> 12 & 63, number >> 6 & 63, number & 63
    return line


def play(defending_king: Square, attacking_king: Square, rook: Square,
         attacker_to_move: bool, move: str) -> Position:
    """The position after a legal move given in UCI notation, e.g. play(*position, "a8a1").

    The defending king's taking the rook gives the rook on the king's square, the attacking
    side to move: value() DRAW, and no moves, since king against king ends the game. Raises
    TypeError for a move that is not a str, ValueError for one that is not legal here."""
    if not isinstance(move, str):
        raise TypeError(f"a move is a str in UCI notation, such as 'a8a1', not {type(move).__name__}")
    found, number, d, a, r = _locate(defending_king, attacking_king, rook, attacker_to_move)
    if found[number] == NO_POSITION:
        raise ValueError(f"move {move!r} is not legal in {_position(number)}: the rook is taken,"
                         " and king against king ends the game")
    for start, end, after in successors(attacker_to_move, d, a, r):
        if NAMES[start] + NAMES[end] == move:
            return _position(1 << 18 | end << 12 | a << 6 | end if after == CAPTURE else after)
    raise ValueError(f"move {move!r} is not legal in {_position(number)}")


def positions() -> Iterator[Tuple[Position, int]]:
    """Every legal whole-board position with its rook once, with its value: the defending
    king to move first, then the attacking side, each with the defending king's, the
    attacking king's and the rook's squares in board order (a1, a2, ..., a8, b1, ..., h8).

    These are 223,944 positions with the defending king to move and 175,168 with the
    attacking side: count over these, not over korvel's lists times eight, which hold a
    position and its reflection in the diagonal a8-h1 both when the defending king is on it."""
    for number, found in enumerate(_index.INDEX or index()):
        if found != NO_POSITION:
            yield _position(number), found


def from_fen(fen: str) -> Position:
    """The position of a FEN with a king of each colour and one rook, of either colour: its
    owner is the attacking side. Two kings alone are the position after the rook was taken,
    the king to move the attacking one. Castling rights and en passant must be '-'; the move
    counters may be left out and are not used. Raises ValueError naming what is wrong,
    including an illegal position."""
    d, a, r, attacker_to_move, _ = _fen.read(fen)
    why = illegality(attacker_to_move, d, a, r)
    if why is not None:
        raise _fen.fail(fen, f"illegal position: {why}")
    return _position(position_number(attacker_to_move, d, a, r))


def to_fen(position: Tuple[Square, Square, Square, bool], white_attacks: bool = True) -> str:
    """The FEN of a position, which from_fen reads back to it: the king and rook white, or
    black with white_attacks=False; no castling, no en passant, move counters 0 and 1."""
    if not isinstance(position, (tuple, list)) or len(position) != 4:
        raise TypeError("a position is (defending_king, attacking_king, rook, attacker_to_move),"
                        f" not {position!r}")
    if type(white_attacks) is not bool:
        raise TypeError(f"white_attacks must be a bool, not {type(white_attacks).__name__}")
    _, number, d, a, r = _locate(*position)
    return _fen.write(d, a, r, number >> 18 == 1, white_attacks)
