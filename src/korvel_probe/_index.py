"""The index: every whole-board position's value in one flat table, built once per process.

TABLE[position_number(...)] is the value, or NO_POSITION for an illegal position. It takes
2 x 64**3 bytes (512 KiB): a probe is one subscript, with no symmetry to apply.
"""

import operator
import threading
from typing import Any, Callable, Dict, Optional, Sequence, Tuple

from ._rules import POSITION_COUNT
from ._squares import SQUARE_COUNT

NO_POSITION = 255
BLOCK = SQUARE_COUNT * SQUARE_COUNT  # the attacking king's and the rook's squares for one defending king

TABLE: Optional[bytes] = None
_building = threading.Lock()


def _symmetry(swap: bool, mirror_x: bool, mirror_y: bool) -> Callable[[int], int]:
    def image(n: int) -> int:
        x, y = divmod(n, 8)
        if swap:
            x, y = y, x
        return (7 - x if mirror_x else x) * 8 + (7 - y if mirror_y else y)
    return image


def _to_triangle(d: int) -> Callable[[int], int]:
    """The symmetry that brings a defending king on d into the triangle a8 b7 b8 c6 c7 c8
    d5 d6 d7 d8, where korvel's lists put it: first into the quarter a5-d8, then, below the
    diagonal a8-h1, the reflection in it."""
    x, y = divmod(d, 8)
    swap, mirror_x, mirror_y = x >= 4 and y <= 3, x >= 4 and y >= 4, x <= 3 and y <= 3
    x1, y1 = divmod(_symmetry(swap, mirror_x, mirror_y)(d), 8)
    if x1 < 7 - y1:  # the reflection in the diagonal, (x, y) -> (7 - y, 7 - x), after the first
        swap, mirror_x, mirror_y = not swap, not mirror_y, not mirror_x
    return _symmetry(swap, mirror_x, mirror_y)


Lists = Tuple[Sequence[Tuple[Sequence[Tuple[int, int]], int]], ...]


def build(lists: Lists) -> bytes:
    """The table from get_lists()'s (defender-to-move list, attacker-to-move list)."""
    table = bytearray([NO_POSITION]) * POSITION_COUNT
    for side, entries in enumerate(lists):
        base = side << 18
        for ((dx, dy), (ax, ay), (rx, ry)), value in entries:
            table[base | (dx * 8 + dy) << 12 | (ax * 8 + ay) << 6 | rx * 8 + ry] = value
    # Every other defending king's block is a permutation of its triangle square's.
    images: Dict[Tuple[int, ...], Any] = {}
    for d in range(SQUARE_COUNT):
        image = _to_triangle(d)
        source = image(d)
        if source == d:
            continue
        key = tuple(image(n) for n in range(SQUARE_COUNT))
        if key not in images:
            images[key] = operator.itemgetter(*(image(a) * SQUARE_COUNT + image(r)
                                                for a in range(SQUARE_COUNT)
                                                for r in range(SQUARE_COUNT)))
        permute = images[key]
        for side in range(2):
            start, target = side << 18 | source << 12, side << 18 | d << 12
            table[target:target + BLOCK] = bytes(permute(table[start:start + BLOCK]))
    return bytes(table)


def load() -> bytes:
    """The table, built on first use from one call of korvel.get_lists()."""
    global TABLE
    with _building:
        if TABLE is None:
            import korvel  # here, so that importing korvel_probe costs nothing until a probe
            TABLE = build(korvel.get_lists())
    return TABLE
