# The types of the extension module korvel, for editors and type checkers,
# which cannot read them from compiled code.
from typing import List, Tuple

# Defending king, attacking king, rook, each (x, y): x the file, y the rank, 0 to 7.
_Squares = List[Tuple[int, int]]
# The squares and the plies to mate; 100 or more: no forced mate.
_Entry = Tuple[_Squares, int]

__version__: str

def get_lists() -> Tuple[List[_Entry], List[_Entry]]:
    """Every table position with its distance to mate, as (squares, value).

    The first list has the defending king to move, the second the attacking
    side; each call returns new lists.
    """
