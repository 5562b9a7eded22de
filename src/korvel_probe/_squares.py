"""Squares: (x, y) tuples and names such as "e4", read into square numbers x * 8 + y."""

import operator
from typing import Any, Dict, List, Tuple, Union

Square = Union[Tuple[int, int], str]
"""A square as the caller gives it: (x, y), x the file (0 = a), y the rank (0 = rank 1),
or its name, such as "e4"."""

FILES = "abcdefgh"
SQUARE_COUNT = 64

# Square number n = x * 8 + y, board order: the order korvel's lists use.
COORDINATES: List[Tuple[int, int]] = [divmod(n, 8) for n in range(SQUARE_COUNT)]
NAMES: List[str] = [FILES[x] + str(y + 1) for x, y in COORDINATES]
_BY_NAME: Dict[str, int] = {name: n for n, name in enumerate(NAMES)}


def _is_bool(c: Any) -> bool:
    """Python's bool, or numpy's, which is no subclass of it and does not import numpy here."""
    return isinstance(c, bool) or (type(c).__module__ == "numpy" and type(c).__name__ in ("bool_", "bool"))


def _coordinate(role: str, square: Any, c: Any) -> int:
    """One coordinate as an int; a bool is refused, since (True, 3) is surely a mistake."""
    if type(c) is int:
        return c
    if _is_bool(c):
        raise TypeError(f"{role} {square!r}: x and y must be ints, not {type(c).__name__}")
    try:
        return operator.index(c)
    except TypeError:
        raise TypeError(f"{role} {square!r}: x and y must be ints, not {type(c).__name__}") from None


def square_number(role: str, square: Any) -> int:
    """The number x * 8 + y of a square given as (x, y) or as a name; role names the piece
    in errors: TypeError for what is no square at all, ValueError for one off the board."""
    x: int
    y: int
    if type(square) is tuple and len(square) == 2:
        x, y = square
        if type(x) is int and type(y) is int and 0 <= x < 8 and 0 <= y < 8:
            return x * 8 + y
    if isinstance(square, str):
        n = _BY_NAME.get(square.lower())
        if n is None:
            raise ValueError(f"{role} {square!r} is not a square name: they run from 'a1' to 'h8'")
        return n
    if not isinstance(square, (tuple, list)) or len(square) != 2:
        raise TypeError(f"{role} {square!r} is not a square: give (x, y) or a name such as 'e4'")
    x = _coordinate(role, square, square[0])
    y = _coordinate(role, square, square[1])
    if not (0 <= x < 8 and 0 <= y < 8):
        raise ValueError(f"{role} {square!r} is off the board: x and y run from 0 to 7")
    return x * 8 + y


def describe(n: int) -> str:
    """A square for a message, as a name and as (x, y): 'e5 (4, 4)'."""
    return f"{NAMES[n]} {COORDINATES[n]}"
