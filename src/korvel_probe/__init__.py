"""Probe korvel's king and rook against king solution: any position, on the whole board.

A position is the defending king's square, the attacking king's, the rook's, and
attacker_to_move: True when the king and rook are to move, False when the lone king is.
A square is (x, y), x the file (0 = a) and y the rank (0 = rank 1), or a name such as "e4".

Values are korvel's: CHECKMATE (0) when the defending king is mated, 1 to 99 the plies to
mate under best play (the attacking side mating as fast as it can, the defending king
holding out as long as it can), DRAW (100) for stalemate and once the rook is taken,
ROOK_CAPTURABLE (101) when the defending king, to move, can take the rook.

    >>> import korvel_probe
    >>> korvel_probe.value("e1", "e3", "a8", True)
    1
    >>> [move.san for move in korvel_probe.moves("e1", "e3", "a8", True)][:3]
    ['Ra1#', 'Ra4', 'Ra5']

The first probe of a process builds the index from one call of korvel.get_lists(); later
probes take a few microseconds. An illegal position raises ValueError saying which rule it
breaks; a square off the board or malformed raises ValueError or TypeError naming it.
open_tablebase() probes python-chess boards as python-chess's tablebases do; the pictures
are dtm_map_svg() and board_svg(); `python -m korvel_probe FEN` is the command line.
"""

from ._index import NO_POSITION, index
from ._pictures import Svg, board_svg, dtm_map_svg
from ._probe import (CHECKMATE, DRAW, ROOK_CAPTURABLE, Move, Position, best_moves, from_fen, mate_line,
                     moves, play, positions, to_fen, value)
from ._squares import Square
from ._tablebase import Tablebase, open_tablebase

__all__ = ["CHECKMATE", "DRAW", "NO_POSITION", "ROOK_CAPTURABLE", "Move", "Position", "Square", "Svg",
           "Tablebase", "best_moves", "board_svg", "dtm_map_svg", "from_fen", "index", "mate_line",
           "moves", "open_tablebase", "play", "positions", "to_fen", "value"]
