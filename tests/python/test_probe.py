"""korvel_probe against korvel's values: its move rules, its symmetries, FEN, its errors, the command line."""

import collections
import json
import re
import sys
import unittest.mock

import pytest

import child_process
import korvel_probe
from korvel_probe import _rules
from korvel_probe._rules import CAPTURE, POSITION_COUNT

IMAGES = [  # the eight symmetries of the board, on (x, y)
    lambda x, y: (x, y), lambda x, y: (7 - x, y), lambda x, y: (x, 7 - y),
    lambda x, y: (7 - x, 7 - y), lambda x, y: (y, x), lambda x, y: (7 - y, x),
    lambda x, y: (y, 7 - x), lambda x, y: (7 - y, 7 - x),
]


def test_every_value_follows_from_its_successors_and_only_legal_positions_have_one():
    index = korvel_probe.index()
    for number in range(POSITION_COUNT):
        attacker_to_move, d, a, r = number >> 18 == 1, number >> 12 & 63, number >> 6 & 63, number & 63
        value = index[number]
        legal = _rules.illegality(attacker_to_move, d, a, r) is None and r != d  # a taken rook is not indexed
        assert (value != korvel_probe.NO_POSITION) == legal, number
        if not legal:
            continue
        after = [100 if s == CAPTURE else index[s] for _, _, s in _rules.successors(attacker_to_move, d, a, r)]
        assert korvel_probe.NO_POSITION not in after, number  # a move to an illegal position
        if attacker_to_move:
            assert value == 1 + min(after), number
        elif not after:  # checkmate or stalemate
            assert value == (0 if _rules.in_check(d, a, r) else 100), number
        else:
            assert value == 1 + max(after), number


def test_the_eight_images_of_a_position_have_one_value():
    for position, value in list(korvel_probe.positions())[::29]:
        *squares, attacker_to_move = position
        for image in IMAGES:
            assert korvel_probe.value(*(image(*s) for s in squares), attacker_to_move) == value, position
    # A position and its reflection in the diagonal a8-h1, two entries of korvel's lists.
    assert korvel_probe.value("d5", "g8", "a2", False) == korvel_probe.value("d5", "a2", "g8", False)


def test_whole_board_counts_count_each_position_once():
    longest = sum(1 for p, v in korvel_probe.positions() if p.attacker_to_move and v == 31)
    assert longest == 916


def test_best_moves_and_lines_to_mate():
    assert korvel_probe.best_moves("e1", "e3", "a8", True) == ["a8a1"]
    assert korvel_probe.best_moves("a8", "a6", "h8", False) == []  # checkmate
    assert korvel_probe.value("a8", "a6", "b1", False) == korvel_probe.DRAW
    assert korvel_probe.best_moves("a8", "a6", "b1", False) == []  # stalemate
    assert korvel_probe.value("a8", "h1", "b7", False) == korvel_probe.ROOK_CAPTURABLE
    assert korvel_probe.best_moves("a8", "h1", "b7", False) == ["a8b7"]
    for position, value in korvel_probe.positions():
        if value == 31:
            line = korvel_probe.mate_line(*position)
            assert len(line) == 31
            for move in line:
                position = korvel_probe.play(*position, move)
            assert korvel_probe.value(*position) == korvel_probe.CHECKMATE


def test_the_first_move_played_each_ply_ends_at_mate_stalemate_or_the_taken_rook_in_value_plies():
    ends = collections.Counter()
    for start, value in list(korvel_probe.positions())[::53]:
        position, plies = start, 0
        while plies <= 33 and (listed := korvel_probe.moves(*position)):
            position, plies = korvel_probe.play(*position, listed[0].uci), plies + 1
        end = korvel_probe.value(*position)
        if end == korvel_probe.CHECKMATE:
            ends["mate"] += 1
            assert plies == value and not position.attacker_to_move, start
        else:
            taken = position.rook == position.defending_king
            ends["taken" if taken else "stalemate"] += 1
            assert end == korvel_probe.DRAW and position.attacker_to_move == taken, start
            assert plies == (value == korvel_probe.ROOK_CAPTURABLE), start
    assert min(ends.values()) > 0 and len(ends) == 3, ends


@pytest.mark.parametrize("fen, position, white_attacks", [
    ("8/8/8/8/8/8/8/k1K4R w - - 0 1", ((0, 0), (2, 0), (7, 0), True), True),
    ("8/8/8/8/8/8/8/K1k4r w - - 0 1", ((0, 0), (2, 0), (7, 0), False), False),
    ("3k4/8/3K4/8/8/8/8/R7 b -", ((3, 7), (3, 5), (0, 0), False), True),
])
def test_fen_either_colour_attacking(fen, position, white_attacks):
    assert korvel_probe.from_fen(fen) == position
    written = korvel_probe.to_fen(position, white_attacks=white_attacks)
    assert written.startswith(fen) and written.endswith(" - - 0 1")


def test_fen_round_trips_with_either_colour_and_the_taken_rook():
    sample = [position for position, _ in list(korvel_probe.positions())[::211]]
    sample.append(korvel_probe.play("a8", "h1", "b7", False, "a8b7"))
    for position in sample:
        for white_attacks in (True, False):
            fen = korvel_probe.to_fen(position, white_attacks=white_attacks)
            assert korvel_probe.from_fen(fen) == position, fen
    assert korvel_probe.to_fen(sample[-1]) == "8/1k6/8/8/8/8/8/7K w - - 0 1"


class NumpyBool:
    """As numpy's bool, which is no subclass of Python's, is to a caller that has no numpy."""
    __module__ = "numpy"

    def __index__(self):
        return 1

    def __repr__(self):
        return "True"


NumpyBool.__name__ = "bool_"


@pytest.mark.parametrize("call, error, message", [
    (lambda: korvel_probe.value((4, 4), (4, 5), (0, 0), False), ValueError,
     "illegal position: the kings are on adjacent squares, e5 (4, 4) and e6 (4, 5)"),
    (lambda: korvel_probe.value("c3", "h8", "c3", False), ValueError,
     "illegal position: the defending king and the rook are both on c3 (2, 2)"),
    (lambda: korvel_probe.value((0, 0), (7, 7), (0, 5), True), ValueError,
     "illegal position: the attacking side is to move while the defending king on a1 (0, 0)"
     " is in check from the rook on a6 (0, 5)"),
    (lambda: korvel_probe.value((0, 0), (7, 8), "b2", True), ValueError,
     "attacking_king (7, 8) is off the board: x and y run from 0 to 7"),
    (lambda: korvel_probe.value("a1", "c3", "j1", True), ValueError,
     "rook 'j1' is not a square name: they run from 'a1' to 'h8'"),
    (lambda: korvel_probe.value((True, 3), "h8", "b1", True), TypeError,
     "defending_king (True, 3): x and y must be ints, not bool"),
    (lambda: korvel_probe.value(4, "h8", "b1", True), TypeError,
     "defending_king 4 is not a square: give (x, y) or a name such as 'e4'"),
    (lambda: korvel_probe.value("a1", "h8", "b2", 1), TypeError,
     "attacker_to_move must be a bool (True: the king and rook to move), not int"),
    (lambda: korvel_probe.play("e1", "e3", "a8", True, "a8b1"), ValueError,
     "move 'a8b1' is not legal in Position(defending_king=(4, 0)"),
    (lambda: korvel_probe.from_fen("8/8/8/8/8/8/8/k1K4Q w - - 0 1"), ValueError,
     "it has a queen: only two kings and a rook can stand here"),
    (lambda: korvel_probe.from_fen("8/8/8/8/8/8/8/k1K4R w K - 0 1"), ValueError,
     "castling rights 'K': this endgame is played without castling"),
    (lambda: korvel_probe.from_fen("8/8/8/8/8/8/8/kK5R w - - 0 1"), ValueError,
     "illegal position: the kings are on adjacent squares, a1 (0, 0) and b1 (1, 0)"),
    (lambda: korvel_probe.from_fen("8/8/8/8/8/8/8/k1K4Rr w"), ValueError,
     "rank 1 ('k1K4Rr') covers 9 files, not 8"),
    (lambda: korvel_probe.from_fen("8/8/8/8/8/8/8/k1K1K3 b"), ValueError,
     "it has 1 k, 2 K: give one K, one k and at most one rook, R or r"),
    # Move counters of ASCII digits only, and few: int() takes some other digits, and
    # refuses thousands of them in words of its own.
    (lambda: korvel_probe.from_fen("8/8/8/8/8/8/8/k1K4R w - - ² 1"), ValueError,
     "FEN '8/8/8/8/8/8/8/k1K4R w - - ² 1': the halfmove clock '²' is not a count"),
    (lambda: korvel_probe.from_fen("8/8/8/8/8/8/8/k1K4R w - - 0 " + "1" * 5000), ValueError,
     "FEN '8/8/8/8/8/8/8/k1K4R w - - 0 111"),
    (lambda: korvel_probe.play("e1", "e3", "a8", True, unittest.mock.ANY), TypeError,
     "a move is a str in UCI notation, such as 'a8a1', not _ANY"),
    (lambda: korvel_probe.value((NumpyBool(), 3), "h8", "b1", True), TypeError,
     "defending_king (True, 3): x and y must be ints, not bool_"),
    (lambda: korvel_probe.play("b7", "h1", "b7", True, "h1h2"), ValueError,
     "the rook is taken, and king against king ends the game"),
])
def test_errors_say_what_is_wrong_in_the_callers_squares(call, error, message):
    with pytest.raises(error) as raised:
        call()
    assert message in str(raised.value)


def test_a_korvel_that_cannot_be_imported_fails_the_first_probe_and_the_next_tries_again():
    script = ("import sys\n"
              "sys.modules['korvel'] = None\n"
              "import korvel_probe\n"
              "try:\n"
              "    korvel_probe.value('e1', 'e3', 'a8', True)\n"
              "except ImportError:\n"
              "    pass\n"
              "del sys.modules['korvel']\n"
              "print(korvel_probe.value('e1', 'e3', 'a8', True))\n")
    done = child_process.run([sys.executable, "-c", script], 120)
    assert (done.returncode, done.stdout) == (0, "1\n"), done.stderr


# The sanitized test build switches stacks as korvel loads, and AddressSanitizer says once, on
# stderr, that it does not follow such switches: no word of the command's own.
SANITIZER_NOTICE = re.compile(r"==\d+==WARNING: ASan doesn't fully support makecontext/swapcontext.*\n")


def korvel_probe_command(*arguments):
    done = child_process.run([sys.executable, "-m", "korvel_probe", *arguments], 120)
    done.stderr = SANITIZER_NOTICE.sub("", done.stderr)
    return done


def test_the_command_line_answers_as_tablebase_explorers_and_refuses_a_bad_fen_in_one_line(tmp_path):
    done = korvel_probe_command("8/8/8/8/8/8/8/k1K4R w - - 0 1", "--json", "--svg", str(tmp_path / "board.svg"))
    assert done.returncode == 0, done.stderr
    answer = json.loads(done.stdout)
    assert (answer["category"], answer["dtm"], len(answer["moves"])) == ("win", 5, 14)
    assert answer["moves"][0] == {"uci": "c1c2", "san": "Kc2+", "category": "loss", "dtm": -4, "checkmate": False,
                                  "stalemate": False, "insufficient_material": False}
    assert [(move["san"], move["category"], move["stalemate"]) for move in answer["moves"][-3:]] == [
        ("Kd2+", "loss", False), ("Kd1", "loss", False), ("Rh2", "draw", True)]
    assert (tmp_path / "board.svg").read_text().startswith("<svg")
    done = korvel_probe_command("8/8/8/8/8/8/8/k1K4R", "b", "-", "-", "0", "7")  # a FEN's fields as words
    assert "Line to mate: 7... Ka2 8. Rh3 Ka1 9. Ra3#" in done.stdout, done.stdout
    done = korvel_probe_command("8/8/8/8/8/8/8/kK5R w - - 0 1", "--json")
    assert (done.returncode, done.stdout) == (2, "")
    assert done.stderr == ("python -m korvel_probe: error: FEN '8/8/8/8/8/8/8/kK5R w - - 0 1': illegal position:"
                           " the kings are on adjacent squares, a1 (0, 0) and b1 (1, 0)\n")
