"""Prints korvel's mate-length statistics and plays out one of the longest mates."""

import time
from collections import Counter

import korvel
import korvel_probe

NO_MATE_LABELS = {korvel_probe.DRAW: "stalemate", korvel_probe.ROOK_CAPTURABLE: "rook can be taken"}


def mate_in(plies):
    """Counts a distance to mate as a chess player does: in the attacking side's moves."""
    return (plies + 1) // 2


def distance_text(plies):
    """Returns e.g. 'mate in 16 (31 plies)'."""
    return "mate in %d (%d %s)" % (mate_in(plies), plies, "ply" if plies == 1 else "plies")


def square_name(square):
    """Returns the algebraic name of a square, x = 0 being file a and y = 0 rank 1."""
    return "abcdefgh"[square[0]] + str(square[1] + 1)


def move_text(ply, move, before, value):
    """Returns a UCI move as a chess player writes it: '1. Rb7-e7', '1... Kc6-d5', '16. Ra4-a8#'.

    The attacking side plays White and moves on the odd plies.
    """
    number = "%d." % mate_in(ply) if ply % 2 else "%d..." % mate_in(ply)
    piece = "R" if move[:2] == square_name(before.rook) else "K"
    mark = "#" if value == korvel_probe.CHECKMATE else ""
    return "%s %s%s-%s%s" % (number, piece, move[:2], move[2:], mark)


def play_out(start):
    """Plays korvel_probe's line from a position down to checkmate.

    Returns a list of (move text, position after, plies left).
    """
    line, position = [], start
    for ply, move in enumerate(korvel_probe.mate_line(*start), 1):
        before, position = position, korvel_probe.play(*position, move)
        value = korvel_probe.value(*position)
        line.append((move_text(ply, move, before, value), position, value))
    return line


def board_lines(position):
    """Returns an 8x8 ASCII board, rank 8 at the top, as a list of text lines."""
    pieces = dict(zip(position[:3], "kKR"))
    lines = ["%d %s" % (y + 1, " ".join(pieces.get((x, y), ".") for x in range(8)))
             for y in range(7, -1, -1)]
    return lines + ["  a b c d e f g h"]


def print_boards(boards, per_row=4, width=19):
    """Prints labelled boards side by side, within 80 columns; each is (label lines, position)."""
    for start in range(0, len(boards), per_row):
        row = boards[start:start + per_row]
        blocks = [labels + [""] + board_lines(position) for labels, position in row]
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

    longest = max(value for _, value in attacker_list if value < korvel_probe.DRAW)
    start = next(korvel_probe.Position(*squares, True) for squares, value in attacker_list
                 if value == longest)
    line = play_out(start)
    print("One of the longest mates: %s. The attacking side plays White\n"
          "(K king, R rook), the lone king Black (k); # is mate.\n"
          % distance_text(len(line)))
    boards = [(["start", "mate in %d" % mate_in(longest)], start)]
    for move, position, left in line:
        boards.append(([move, "checkmate" if left == 0 else "mate in %d" % mate_in(left)], position))
    print_boards(boards)


if __name__ == "__main__":
    main()
