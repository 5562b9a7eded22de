"""King and rook against king behind python-chess's tablebase interface: a board in, its
distance to mate or win/draw/loss out, signed from the side to move's view."""

import importlib
from types import TracebackType
from typing import Any, List, Optional, Protocol, Type

from . import _fen, _index
from ._index import NO_POSITION
from ._probe import outcome


class Board(Protocol):
    """What probes take: a chess.Board, read by its bitboards, or anything with its fen()."""

    def fen(self) -> str: ...


KINGS_ALONE = -1  # a board of kings alone: a dead draw, whatever else it holds
NOT_HELD = -2  # any other board that is not king and rook against king, or that has castling rights

# A one-square bitboard of python-chess (square rank * 8 + file) to korvel's square number,
# file * 8 + rank; a bitboard of no square or of several is not in it.
_SQUARE_OF_BIT = {1 << s: (s & 7) << 3 | s >> 3 for s in range(64)}

# By side to move (attacking side: 1) and value: what probe_dtm and probe_wdl give, None for
# an illegal position.
_DTM: List[List[Optional[int]]] = [
    [None if v == NO_POSITION else outcome(v, side == 1)[1] for v in range(256)] for side in (0, 1)]
_WDL: List[List[Optional[int]]] = [
    [None if v == NO_POSITION else {"win": 1, "draw": 0, "loss": -1}[outcome(v, side == 1)[0]] for v in range(256)]
    for side in (0, 1)]


def _number_from_fen(fen: str) -> int:
    """The position number of a board given by its FEN, KINGS_ALONE or NOT_HELD."""
    board = _fen.fields(fen)
    pieces = board.pieces
    if set(pieces) <= {"K", "k"}:
        return KINGS_ALONE
    counts = [len(pieces.get(c, ())) for c in "KkRr"]
    if board.castling != "-" or set(pieces) - {"K", "k", "R", "r"} or counts[:2] != [1, 1] or sum(counts[2:]) != 1:
        return NOT_HELD
    white_attacks = "R" in pieces
    attacking, defending = ("K", "k") if white_attacks else ("k", "K")
    return ((board.white_to_move == white_attacks) << 18 | pieces[defending][0] << 12
            | pieces[attacking][0] << 6 | pieces["R" if white_attacks else "r"][0])


def number(board: Board) -> int:
    """The position number of a board of king and rook against king, KINGS_ALONE or NOT_HELD."""
    bits: Any = board
    kings: int
    rooks: int
    occupied: int
    white: int
    turn: bool
    castling: int
    try:
        kings, rooks, occupied = bits.kings, bits.rooks, bits.occupied
        white, turn, castling = bits.occupied_co[1], bits.turn, bits.castling_rights
    except AttributeError:
        return _number_from_fen(board.fen())
    if occupied == kings:
        return KINGS_ALONE
    white_king = _SQUARE_OF_BIT.get(kings & white)
    black_king = _SQUARE_OF_BIT.get(kings & ~white)
    rook = _SQUARE_OF_BIT.get(rooks)
    if castling or occupied != kings | rooks or rook is None or white_king is None or black_king is None:
        return NOT_HELD
    if rooks & white:
        return turn << 18 | black_king << 12 | white_king << 6 | rook
    return (not turn) << 18 | white_king << 12 | black_king << 6 | rook


def _missing(board: Board, why: str) -> KeyError:
    """python-chess's own error for a position no table holds, where it is installed."""
    error: Type[KeyError] = KeyError
    try:
        error = importlib.import_module("chess.gaviota").MissingTableError
    except ImportError:
        pass
    return error(f"{why}: {board.fen()}")


def _error(board: Board) -> KeyError:
    """Why a board has no value: castling rights, another endgame, or an illegal position."""
    if number(board) >= 0:
        return _missing(board, "korvel_probe holds no illegal position (kings side by side,"
                               " or the side not to move in check)")
    castling = getattr(board, "castling_rights", None)
    if castling if castling is not None else _fen.fields(board.fen()).castling != "-":
        return KeyError(f"korvel_probe holds no position with castling rights: {board.fen()}")
    return _missing(board, "korvel_probe holds king and rook against king alone")


def _look_up(board: Board, answers: List[List[Optional[int]]], default: Optional[int]) -> Optional[int]:
    """The answer for a board, by side to move and value, or default where it has none."""
    found = number(board)
    if found >= 0:
        answer = answers[found >> 18][(_index.INDEX or _index.index())[found]]
        return default if answer is None else answer
    return 0 if found == KINGS_ALONE else default


class Tablebase:
    """King and rook against king as python-chess's tablebases are probed (chess.gaviota's
    open_tablebase() gives the same values): probe_dtm and probe_wdl raise KeyError,
    chess.gaviota.MissingTableError where python-chess is installed, for a board they hold
    no value for; get_dtm and get_wdl return a default instead. It holds no file: close()
    and use as a context manager are there for programs written for python-chess."""

    def probe_dtm(self, board: Board) -> int:
        """The plies to mate, positive when the side to move mates, negative when it is
        mated, 0 for a draw, a checkmate and two kings alone."""
        dtm = _look_up(board, _DTM, None)
        if dtm is None:
            raise _error(board)
        return dtm

    def get_dtm(self, board: Board, default: Optional[int] = None) -> Optional[int]:
        """probe_dtm(board), or default where it raises KeyError."""
        return _look_up(board, _DTM, default)

    def probe_wdl(self, board: Board) -> int:
        """1 when the side to move wins, 0 for a draw, -1 when it loses (checkmated)."""
        wdl = _look_up(board, _WDL, None)
        if wdl is None:
            raise _error(board)
        return wdl

    def get_wdl(self, board: Board, default: Optional[int] = None) -> Optional[int]:
        """probe_wdl(board), or default where it raises KeyError."""
        return _look_up(board, _WDL, default)

    def close(self) -> None:
        """Nothing to release; probes still work."""

    def __enter__(self) -> "Tablebase":
        return self

    def __exit__(self, exc_type: Optional[Type[BaseException]], exc_value: Optional[BaseException],
                 traceback: Optional[TracebackType]) -> None:
        self.close()


def open_tablebase() -> Tablebase:
    """King and rook against king behind python-chess's tablebase interface, in place of
    chess.gaviota.open_tablebase(directory): no files, nothing to open but korvel's index,
    built at the first probe."""
    return Tablebase()
