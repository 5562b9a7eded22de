"""Prints korvel's mate-length statistics and plays out one of the longest mates."""

import time
from collections import Counter

import korvel

DEFENDER, ATTACKER = "defender", "attacker"  # side to move
NO_MATE_LABELS = {100: "stalemate", 101: "rook can be taken"}
KING_STEPS = [(dx, dy) for dx in (-1, 0, 1) for dy in (-1, 0, 1) if dx or dy]
ROOK_DIRECTIONS = ((1, 0), (-1, 0), (0, 1), (0, -1))
# The 8 board symmetries as (swap x and y, mirror x, mirror y).
SYMMETRIES = [(s, mx, my) for s in (False, True) for mx in (False, True) for my in (False, True)]


# --- Looking up any position -------------------------------------------------

def build_table(defender_list, attacker_list):
    """Returns a dict from (side to move, (defending king, attacking king, rook)) to value."""
    table = {}
    for side, entries in ((DEFENDER, defender_list), (ATTACKER, attacker_list)):
        for squares, value in entries:
            table[(side, tuple(tuple(square) for square in squares))] = value
    return table


def in_triangle(square):
    """True for the ten squares x <= 3, y >= 4, x + y >= 7 the lists give the defending king."""
    x, y = square
    return x <= 3 and y >= 4 and x + y >= 7


def transform(square, swap, mirror_x, mirror_y):
    """Maps one square by a board symmetry."""
    x, y = square
    if swap:
        x, y = y, x
    return (7 - x if mirror_x else x, 7 - y if mirror_y else y)


def canonical(squares):
    """Maps all three squares by the symmetry that puts the defending king in the triangle."""
    # Off the board, some symmetry would still "reach" the triangle, and the
    # lookup would fail on a key that names no position.
    if not all(on_board(*square) for square in squares):
        raise ValueError("squares are (x, y) with x and y from 0 to 7")
    for symmetry in SYMMETRIES:
        mapped = tuple(transform(square, *symmetry) for square in squares)
        if in_triangle(mapped[0]):
            return mapped
    raise AssertionError("no symmetry reaches the triangle")  # every square has one


def lookup(table, side, squares):
    """Returns the value of any legal position, wherever the defending king stands."""
    return table[(side, canonical(squares))]


# --- Board rules ---------------------------------------------------------------

def on_board(x, y):
    """True if (x, y) is one of the 64 squares."""
    return 0 <= x < 8 and 0 <= y < 8


def touching(a, b):
    """True if two squares are equal or adjacent, i.e. kings there would be illegal."""
    return abs(a[0] - b[0]) <= 1 and abs(a[1] - b[1]) <= 1


def rook_hits(rook, attacking_king, target):
    """True if the rook reaches target along its row or column; only the attacking king blocks."""
    if rook == target or (rook[0] != target[0] and rook[1] != target[1]):
        return False
    dx = (target[0] > rook[0]) - (target[0] < rook[0])
    dy = (target[1] > rook[1]) - (target[1] < rook[1])
    x, y = rook[0] + dx, rook[1] + dy
    while (x, y) != target:
        if (x, y) == attacking_king:
            return False
        x, y = x + dx, y + dy
    return True


def legal_moves(side, squares):
    """Yields (piece letter, from, to, squares after the move).

    The squares after are None when the defending king takes the rook, which
    leaves the tables: king against king is a draw.
    """
    king, attacker, rook = squares
    if side == DEFENDER:
        for dx, dy in KING_STEPS:
            to = (king[0] + dx, king[1] + dy)
            if not on_board(*to) or touching(to, attacker):
                continue
            if to == rook:
                yield "k", king, to, None
            elif not rook_hits(rook, attacker, to):
                yield "k", king, to, (to, attacker, rook)
        return
    for dx, dy in KING_STEPS:
        to = (attacker[0] + dx, attacker[1] + dy)
        if on_board(*to) and to != rook and not touching(to, king):
            yield "K", attacker, to, (king, to, rook)
    for dx, dy in ROOK_DIRECTIONS:
        to = (rook[0] + dx, rook[1] + dy)
        while on_board(*to) and to not in (attacker, king):
            yield "R", rook, to, (king, attacker, to)
            to = (to[0] + dx, to[1] + dy)


# --- Playing out a mate --------------------------------------------------------

def square_name(square):
    """Returns the algebraic name of a square, x = 0 being file a and y = 0 rank 1."""
    return "abcdefgh"[square[0]] + str(square[1] + 1)


def mate_in(plies):
    """Counts a distance to mate as a chess player does: in the attacking side's moves."""
    return (plies + 1) // 2


def distance_text(plies):
    """Returns e.g. 'mate in 16 (31 plies)'."""
    return "mate in %d (%d %s)" % (mate_in(plies), plies, "ply" if plies == 1 else "plies")


def move_text(ply, piece, frm, to, squares, value):
    """Returns a move as a chess player writes it: '1. Rb7-e7', '1... Kc6-d5', '16. Ra4-a8#'.

    The attacking side plays White and moves on the odd plies.
    """
    number = "%d." % mate_in(ply) if ply % 2 else "%d..." % mate_in(ply)
    king, attacker, rook = squares
    mark = ""
    if ply % 2 and rook_hits(rook, attacker, king):
        mark = "#" if value == 0 else "+"
    return "%s %s%s-%s%s" % (number, piece.upper(), square_name(frm), square_name(to), mark)


def play_out(table, squares):
    """Plays best moves from an attacker-to-move position down to checkmate.

    Returns a list of (move text, squares after, plies left). Each move must
    bring the value down by exactly one: the attacker may find nothing faster
    and the defender nothing slower.
    """
    side, value, line = ATTACKER, lookup(table, ATTACKER, squares), []
    while value > 0:
        nxt = DEFENDER if side == ATTACKER else ATTACKER
        moves = [(piece, frm, to, after, 101 if after is None else lookup(table, nxt, after))
                 for piece, frm, to, after in legal_moves(side, squares)]
        values = [move[4] for move in moves]
        best = min(values) if side == ATTACKER else max(values)
        if best != value - 1:
            raise RuntimeError("%s to move at %r: value %d, best successor %d"
                               % (side, squares, value, best))
        piece, frm, to, squares, value = next(move for move in moves if move[4] == best)
        line.append((move_text(len(line) + 1, piece, frm, to, squares, value), squares, value))
        side = nxt
    king, attacker, rook = squares
    mated = not any(legal_moves(DEFENDER, squares)) and rook_hits(rook, attacker, king)
    if side != DEFENDER or not mated:
        raise RuntimeError("value 0 at %r is not checkmate" % (squares,))
    return line


def board_lines(squares):
    """Returns an 8x8 ASCII board, rank 8 at the top, as a list of text lines."""
    pieces = dict(zip(squares, "kKR"))
    lines = ["%d %s" % (y + 1, " ".join(pieces.get((x, y), ".") for x in range(8)))
             for y in range(7, -1, -1)]
    return lines + ["  a b c d e f g h"]


def print_boards(boards, per_row=4, width=19):
    """Prints labelled boards side by side, within 80 columns; each is (label lines, squares)."""
    for start in range(0, len(boards), per_row):
        row = boards[start:start + per_row]
        blocks = [labels + [""] + board_lines(squares) for labels, squares in row]
        for parts in zip(*blocks):
            print(("  " + "".join(part.ljust(width) for part in parts)).rstrip())
        print()


# --- Statistics ------------------------------------------------------------------

def print_distribution(title, entries, bar_width=36):
    """Prints how many positions have each value, as a text bar chart."""
    counts = Counter(value for _, value in entries)
    scale = max(counts.values()) / bar_width
    print("%s (%s positions)" % (title, format(len(entries), ",")))
    for value in sorted(counts):
        if value == 0:
            label = "checkmate"
        elif value < 100:
            label = distance_text(value)
        else:
            label = NO_MATE_LABELS.get(value, "no mate (%d)" % value)
        bar = "#" * max(1, round(counts[value] / scale))
        print("  %-22s %6s  %s" % (label, format(counts[value], ","), bar))
    print()


def main():
    """Fetches the lists, prints their statistics and one longest mate."""
    started = time.perf_counter()
    defender_list, attacker_list = korvel.get_lists()
    elapsed = time.perf_counter() - started
    print("korvel.get_lists() took %.3f s:\n  %s positions with the defender to move,\n"
          "  %s with the attacker to move.\n"
          % (elapsed, format(len(defender_list), ","), format(len(attacker_list), ",")))

    print("Distance to checkmate under best play\n")
    print_distribution("Defender to move", defender_list)
    print_distribution("Attacker to move", attacker_list)

    table = build_table(defender_list, attacker_list)
    longest = max(value for _, value in attacker_list if value < 100)
    start = next(tuple(map(tuple, squares)) for squares, value in attacker_list
                 if value == longest)
    line = play_out(table, start)
    print("One of the longest mates: %s. The attacking side plays White\n"
          "(K king, R rook), the lone king Black (k); + is check, # mate.\n"
          % distance_text(len(line)))
    boards = [(["start", "mate in %d" % mate_in(longest)], start)]
    for move, squares, left in line:
        boards.append(([move, "checkmate" if left == 0 else "mate in %d" % mate_in(left)], squares))
    print_boards(boards)


if __name__ == "__main__":
    main()
