"""Probe korvel's king and rook against king solution: any position, on the whole board.

A position is the defending king's square, the attacking king's, the rook's, and
attacker_to_move: True when the king and rook are to move, False when the lone king is.
A square is (x, y), x the file (0 = a) and y the rank (0 = rank 1), or a name such as "e4".

Values are korvel's: CHECKMATE (0) when the defending king is mated, 1 to 99 the plies to
mate under best play (the attacking side mating as fast as it can, the defending king
holding out as long as it can), DRAW (100) for stalemate, ROOK_CAPTURABLE (101) when the
defending king, to move, can take the rook.

    >>> import korvel_probe
    >>> korvel_probe.value("e1", "e3", "a8", True)
    1
    >>> korvel_probe.best_moves("e1", "e3", "a8", True)
    ['a8a1']

The first probe of a process builds the index from one call of korvel.get_lists(); later
probes take a few microseconds. An illegal position raises ValueError saying which rule it
breaks; a square off the board or malformed raises ValueError or TypeError naming it.
"""

from typing import Iterator, List, NamedTuple, Tuple

from . import _fen, _index
from ._rules import CAPTURE, illegality, position_number, successors
from ._squares import COORDINATES, NAMES, Square, square_number

__all__ = ["CHECKMATE", "DRAW", "ROOK_CAPTURABLE", "Position", "Square", "best_moves",
           "from_fen", "mate_line", "play", "positions", "value"]

CHECKMATE = 0
"""The value of a position whose defending king, to move, is checkmated."""
DRAW = 100
"""The value of a stalemate; also what follows the defending king's taking the rook."""
ROOK_CAPTURABLE = 101
"""The value of a position whose defending king, to move, can take the rook: a draw."""


class Position(NamedTuple):
    """A position on the whole board, its squares as (x, y); value(*position) probes it."""

    defending_king: Tuple[int, int]
    attacking_king: Tuple[int, int]
    rook: Tuple[int, int]
    attacker_to_move: bool


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
    table = _index.TABLE or _index.load()
    number = position_number(attacker_to_move, d, a, r)
    if table[number] == _index.NO_POSITION:
        why = illegality(attacker_to_move, d, a, r)
        if why is None:  # legal, yet not in korvel's lists
            raise LookupError(f"korvel's lists have no entry for {_position(number)}")
        raise ValueError(f"illegal position: {why}")
    return table, number, d, a, r


def _position(number: int) -> Position:
    return Position(COORDINATES[number >> 12 & 63], COORDINATES[number >> 6 & 63],
                    COORDINATES[number & 63], number >> 18 == 1)


def _best(table: bytes, value: int, moves: List[Tuple[int, int, int]]) -> List[Tuple[int, int, int]]:
    return [move for move in moves
            if (DRAW if move[2] == CAPTURE else table[move[2]]) == value - 1]


def value(defending_king: Square, attacking_king: Square, rook: Square,
          attacker_to_move: bool) -> int:
    """The position's value: CHECKMATE (0), 1 to 99 plies to mate, DRAW (100, stalemate)
    or ROOK_CAPTURABLE (101, the defending king to move can take the rook).

    Every legal position with the attacking side to move is a forced mate, in 1 to 31
    plies; with the defending king to move the mates take up to 32."""
    table, number, _, _, _ = _locate(defending_king, attacking_king, rook, attacker_to_move)
    return table[number]


def best_moves(defending_king: Square, attacking_king: Square, rook: Square,
               attacker_to_move: bool) -> List[str]:
    """The moves that keep the value, in UCI notation ("a8a1"), sorted.

    These are the moves to a position of value v - 1, taking the rook counting as DRAW:
    for a mate in v plies, every move of the attacking side that mates in v - 1, and every
    move of the defending king that holds out as long as it can; at ROOK_CAPTURABLE, the
    capture of the rook, the only move that does not lose; none at CHECKMATE or at a
    stalemate, where the defending king has no move."""
    table, number, d, a, r = _locate(defending_king, attacking_king, rook, attacker_to_move)
    moves = _best(table, table[number], successors(attacker_to_move, d, a, r))
    return sorted(NAMES[start] + NAMES[end] for start, end, _ in moves)


def mate_line(defending_king: Square, attacking_king: Square, rook: Square,
              attacker_to_move: bool) -> List[str]:
    """One line of best moves to checkmate, in UCI notation: the first of best_moves at
    every ply, as many moves as the value. Empty at CHECKMATE, and where there is no mate
    to force (DRAW, ROOK_CAPTURABLE): value() tells which."""
    table, number, d, a, r = _locate(defending_king, attacking_king, rook, attacker_to_move)
    line = []
    while 0 < table[number] < DRAW:
        moves = _best(table, table[number], successors(number >> 18 == 1, d, a, r))
        if not moves:
            raise LookupError(f"korvel's values give no best move in {_position(number)}")
        start, end, number = min(moves, key=lambda move: NAMES[move[0]] + NAMES[move[1]])
        line.append(NAMES[start] + NAMES[end])
        d, a, r = number >> 12 & 63, number >> 6 & 63, number & 63
    return line


def play(defending_king: Square, attacking_king: Square, rook: Square,
         attacker_to_move: bool, move: str) -> Position:
    """The position after a legal move given in UCI notation, e.g. play(*position, "a8a1").

    Raises ValueError for a move that is not legal here, and for the defending king's
    taking the rook, after which no rook is left: king against king, a draw."""
    _, number, d, a, r = _locate(defending_king, attacking_king, rook, attacker_to_move)
    for start, end, after in successors(attacker_to_move, d, a, r):
        if NAMES[start] + NAMES[end] == move:
            if after == CAPTURE:
                raise ValueError(f"move {move!r} takes the rook: king against king is a draw")
            return _position(after)
    raise ValueError(f"move {move!r} is not legal in {_position(number)}")


def positions() -> Iterator[Tuple[Position, int]]:
    """Every legal whole-board position once, with its value: the defending king to move
    first, then the attacking side, each with the defending king's, the attacking king's
    and the rook's squares in board order (a1, a2, ..., a8, b1, ..., h8).

    These are 223,944 positions with the defending king to move and 175,168 with the
    attacking side: count over these, not over korvel's lists times eight, which hold a
    position and its reflection in the diagonal a8-h1 both when the defending king is on it."""
    table = _index.TABLE or _index.load()
    for number, found in enumerate(table):
        if found != _index.NO_POSITION:
            yield _position(number), found


def from_fen(fen: str) -> Position:
    """The position of a FEN with a king of each colour and one rook, of either colour: its
    owner is the attacking side. Castling rights and en passant must be '-'; the move
    counters may be left out and are not used. Raises ValueError naming what is wrong,
    including an illegal position."""
    d, a, r, attacker_to_move = _fen.read(fen)
    why = illegality(attacker_to_move, d, a, r)
    if why is not None:
        raise ValueError(f"FEN {fen!r}: illegal position: {why}")
    return _position(position_number(attacker_to_move, d, a, r))
