"""The index: every whole-board position's value in one flat bytes object, built once a process.

INDEX[attacker_to_move << 18 | d << 12 | a << 6 | r] is the value of the position whose
defending king, attacking king and rook stand on the square numbers d, a and r (x * 8 + y), or
NO_POSITION for an illegal one: 2 x 64**3 bytes (512 KiB), so a probe is one subscript, with
no symmetry to apply.

The first probe builds it from one call of korvel.get_lists(), in short steps that each write
the same bytes however often they run. Code that runs on the building thread in the middle of
the build (a signal handler, a finalizer the cyclic collector calls) cannot wait for the build
it interrupted, so a probe there finishes that build itself and the interrupted one then finds
it done. Other threads wait for the build. A fork's child starts afresh, with a lock of its own.
"""

import importlib
import operator
import os
import threading
from types import ModuleType
from typing import Any, Callable, Dict, List, Optional, Sequence, Tuple

from ._rules import POSITION_COUNT
from ._squares import SQUARE_COUNT

try:
    # Loaded with korvel_probe, a millisecond, rather than at the first probe: a fork while
    # another thread is in the middle of an import leaves the child waiting for ever on that
    # module's import lock, which no thread of the child holds.
    _korvel: Optional[ModuleType] = importlib.import_module("korvel")
except ImportError:  # raised again at the first probe, which tries the import again
    _korvel = None

NO_POSITION = 255
BLOCK = SQUARE_COUNT * SQUARE_COUNT  # the attacking king's and the rook's squares for one defending king
_CHUNK = 256  # list entries a step writes: half a millisecond, so that a step interrupted again
# and again (a signal handler that probes, on a timer) still gets done

INDEX: Optional[bytes] = None
_CALL = operator.methodcaller("__call__")

Lists = Tuple[Sequence[Tuple[Sequence[Tuple[int, int]], int]], ...]


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


# The defending king's squares outside the triangle: each one's block is a permutation of
# its triangle square's.
_MAPPED = [d for d in range(SQUARE_COUNT) if _to_triangle(d)(d) != d]


class _Build:
    """A build under way: the index as far as it is written, korvel's lists once fetched, and
    how many steps are done. A step is counted done only after it has run to its end."""

    def __init__(self) -> None:
        self.index = bytearray([NO_POSITION]) * POSITION_COUNT
        self.fetched: List[Lists] = []  # korvel's lists, once get_lists() has returned them
        self.permutations: Dict[Tuple[int, ...], Any] = {}
        self.done = 0


def _fill(index: bytearray, side: int, entries: Sequence[Tuple[Sequence[Tuple[int, int]], int]]) -> None:
    base = side << 18
    for ((dx, dy), (ax, ay), (rx, ry)), value in entries:
        index[base | (dx * 8 + dy) << 12 | (ax * 8 + ay) << 6 | rx * 8 + ry] = value


def _map(build: _Build, d: int) -> None:
    """Writes the blocks of a defending king on d from its triangle square's, both sides."""
    image = _to_triangle(d)
    images = tuple(image(n) for n in range(SQUARE_COUNT))
    permute = build.permutations.get(images)
    if permute is None:
        permute = build.permutations[images] = operator.itemgetter(
            *(a * SQUARE_COUNT + r for a in images for r in images))
    index, source = build.index, images[d]
    for side in range(2):
        start, target = side << 18 | source << 12, side << 18 | d << 12
        index[target:target + BLOCK] = bytes(permute(index[start:start + BLOCK]))


def _step(build: _Build, k: int) -> bool:
    """Runs step k of a build; False when the build has no step k, all being done."""
    if k == 0:
        solver = _korvel or importlib.import_module("korvel")
        if not build.fetched:
            # From get_lists()'s return to the list in one C call: no signal handler or
            # finalizer runs between them, where a probe would have to fetch them again, and
            # one run on a timer would do so for ever.
            build.fetched.extend(map(_CALL, (solver.get_lists,)))
        return True
    k -= 1
    for side, entries in enumerate(build.fetched[0]):
        chunks = -(-len(entries) // _CHUNK)
        if k < chunks:
            _fill(build.index, side, entries[k * _CHUNK:(k + 1) * _CHUNK])
            return True
        k -= chunks
    if k < len(_MAPPED):
        _map(build, _MAPPED[k])
        return True
    return False


def _run(build: _Build) -> bytes:
    """Runs a build's remaining steps and publishes the index; a run nested in this one, on
    this thread, may finish them first, after which this one only repeats its current step."""
    global INDEX, _build
    while INDEX is None:
        k = build.done
        if not _step(build, k):
            INDEX = bytes(build.index)
            break
        build.done = max(build.done, k + 1)
    if _build is build:
        _build = None
    return INDEX


_lock = threading.RLock()
_build: Optional[_Build] = None


def index() -> bytes:
    """The index, built on first use from one call of korvel.get_lists()."""
    return INDEX or _built()


def _built() -> bytes:
    global _build
    with _lock:  # reentrant: a probe nested on the building thread finishes the build
        if INDEX is not None:
            return INDEX
        build = _build
        if build is not None:  # this thread's own build, interrupted
            return _run(build)
        build = _build = _Build()
        try:
            return _run(build)
        except BaseException:
            # The first try's lists and index are let go; the next probe builds afresh.
            if _build is build:
                _build = None
            raise


def build(lists: Lists) -> bytes:
    """The index from get_lists()'s (defender-to-move list, attacker-to-move list), apart
    from the process's own: what the first probe does after fetching the lists."""
    made = _Build()
    made.fetched.append(lists)
    k = 1
    while _step(made, k):
        k += 1
    return bytes(made.index)


def _forget_in_child() -> None:
    """After a fork, in the child: the thread that held the lock or was building is gone."""
    global _lock, _build
    _lock = threading.RLock()
    _build = None


if hasattr(os, "register_at_fork"):
    os.register_at_fork(after_in_child=_forget_in_child)
