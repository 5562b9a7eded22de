"""korvel_probe against what it did not write: python-chess's move generator and SAN, and
python-chess's Gaviota readers over Debian's tables, on samples of every kind of board."""

import os
import random

import pytest

import korvel_probe

chess = pytest.importorskip("chess", reason="python-chess is not installed (pip install chess)")
import chess.gaviota  # noqa: E402  (python-chess's own module, after the check that it is there)

TABLES = "/usr/share/gaviotatb/gtb4"  # Debian's gaviotatb, in the format python-chess reads


def test_moves_and_their_san_are_python_chess_s_with_either_colour_attacking():
    for i, (position, _) in enumerate(list(korvel_probe.positions())[::37]):
        board = chess.Board(korvel_probe.to_fen(position, white_attacks=i % 2 == 0))
        ours = {move.uci: move.san for move in korvel_probe.moves(*position)}
        assert ours == {move.uci(): board.san(move) for move in board.legal_moves}, board.fen()


def boards(sample):
    """Boards of king and rook against king of either colour, either side to move, illegal
    ones included; with castling rights; of two kings alone; of other endgames."""
    rng = random.Random(26)
    for _ in range(sample):
        white_king, black_king, rook = rng.sample(chess.SQUARES, 3)
        board = chess.Board(None)
        board.set_piece_map({white_king: chess.Piece(chess.KING, chess.WHITE), rook: chess.Piece(chess.ROOK, rng.random() < 0.5),
                             black_king: chess.Piece(chess.KING, chess.BLACK)})
        board.turn = rng.random() < 0.5
        yield board
    yield from map(chess.Board, ["4k3/8/8/8/8/8/8/4K2R w K - 0 1", "4k3/8/8/8/8/8/8/4K3 b - - 0 1",
                                 "4k3/8/8/8/8/8/8/3K4 w KQkq - 0 1", "8/8/8/8/8/8/8/kK6 w - - 0 1",
                                 "8/8/8/3k4/8/8/8/R3K2Q w - - 0 1", "8/8/8/3k4/8/8/r7/R3K3 b - - 0 1"])


def outcomes(tablebase, board):
    found = []
    for probe in (tablebase.probe_dtm, tablebase.probe_wdl):
        try:
            found.append(probe(board))
        except KeyError as error:
            found.append(type(error))
    return found


@pytest.fixture(scope="module")
def native():
    if not os.path.isdir(TABLES):
        pytest.skip(f"Debian's Gaviota tables are not installed in {TABLES} (apt-get install gaviotatb)")
    try:
        tablebase = chess.gaviota.open_tablebase_native(TABLES, libgtb="libgaviotatb.so.1")
    except (OSError, RuntimeError) as error:
        pytest.skip(f"Debian's libgaviotatb cannot be loaded (apt-get install libgaviotatb1): {error}")
    yield tablebase
    tablebase.close()


def test_probes_are_python_chess_s_native_gaviota_readers_on_every_kind_of_board(native):
    with korvel_probe.open_tablebase() as ours:
        for board in boards(8000):
            theirs = outcomes(native, board)
            assert outcomes(ours, board) == theirs, board.fen()
            assert ours.get_dtm(board, "none") == (theirs[0] if isinstance(theirs[0], int) else "none")


def test_probes_of_legal_boards_are_python_chess_s_pure_python_gaviota_reader_s():
    if not os.path.isdir(TABLES):
        pytest.skip(f"Debian's Gaviota tables are not installed in {TABLES} (apt-get install gaviotatb)")
    theirs = chess.gaviota.PythonTablebase()
    theirs.add_directory(TABLES)
    ours = korvel_probe.open_tablebase()
    for board in boards(3000):
        if board.is_valid():
            assert outcomes(ours, board) == outcomes(theirs, board), board.fen()
