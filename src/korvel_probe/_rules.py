"""The rules of king and rook against king on square numbers: attacks, moves and legality.

A position is numbered side << 18 | d << 12 | a << 6 | r, side 1 when the attacking side is
to move, d, a and r the square numbers of the defending king, attacking king and rook.
"""

from typing import FrozenSet, List, Optional, Tuple

from ._squares import COORDINATES, SQUARE_COUNT, describe

POSITION_COUNT = 2 * SQUARE_COUNT ** 3
CAPTURE = -1
"""What follows the defending king's taking the rook: king against king, no position here."""


def position_number(attacker_to_move: bool, d: int, a: int, r: int) -> int:
    return attacker_to_move << 18 | d << 12 | a << 6 | r


def _on_board(x: int, y: int) -> bool:
    return 0 <= x < 8 and 0 <= y < 8


KING_TARGETS: List[Tuple[int, ...]] = [
    tuple((x + dx) * 8 + y + dy for dx in (-1, 0, 1) for dy in (-1, 0, 1)
          if (dx or dy) and _on_board(x + dx, y + dy))
    for x, y in COORDINATES]
# A square with its neighbours: where the other king may not stand.
NEAR: List[FrozenSet[int]] = [frozenset(targets + (n,)) for n, targets in enumerate(KING_TARGETS)]
ROOK_RAYS: List[Tuple[Tuple[int, ...], ...]] = [
    tuple(tuple((x + i * dx) * 8 + y + i * dy for i in range(1, 8) if _on_board(x + i * dx, y + i * dy))
          for dx, dy in ((1, 0), (0, 1), (-1, 0), (0, -1)))
    for x, y in COORDINATES]
# BETWEEN[r * 64 + s]: the squares strictly between a rook on r and a square s on its line,
# where only the attacking king can block it; None when s is off the rook's lines or is r.
BETWEEN: List[Optional[FrozenSet[int]]] = [None] * (SQUARE_COUNT * SQUARE_COUNT)
for _r in range(SQUARE_COUNT):
    for _ray in ROOK_RAYS[_r]:
        for _i, _s in enumerate(_ray):
            BETWEEN[_r * SQUARE_COUNT + _s] = frozenset(_ray[:_i])


def rook_attacks(s: int, a: int, r: int) -> bool:
    """Whether the rook on r reaches s along its line, the attacking king on a not between.

    The defending king never blocks: a king in check along a line cannot escape along it."""
    between = BETWEEN[r * SQUARE_COUNT + s]
    return between is not None and a not in between


def in_check(d: int, a: int, r: int) -> bool:
    """Whether the defending king on d is attacked (the kings are never adjacent here)."""
    return rook_attacks(d, a, r)


def successors(attacker_to_move: bool, d: int, a: int, r: int) -> List[Tuple[int, int, int]]:
    """Every legal move of a legal position as (from, to, the successor's number), the
    number being CAPTURE when the defending king takes the rook."""
    moves = []
    if not attacker_to_move:
        for t in KING_TARGETS[d]:
            if t in NEAR[a]:
                continue
            if t == r:  # not next to its king, so unprotected
                moves.append((d, t, CAPTURE))
            elif not rook_attacks(t, a, r):
                moves.append((d, t, 1 << 18 | t << 12 | a << 6 | r))
        return moves
    for t in KING_TARGETS[a]:
        if t != r and t not in NEAR[d]:
            moves.append((a, t, d << 12 | t << 6 | r))
    for ray in ROOK_RAYS[r]:
        for t in ray:
            if t == a:  # the defending king, not in check, stands on no open line
                break
            moves.append((r, t, d << 12 | a << 6 | t))
    return moves


def illegality(attacker_to_move: bool, d: int, a: int, r: int) -> Optional[str]:
    """Which rule a position breaks, in words, or None for a legal one. The rook on the
    defending king's square, the attacking side to move, is where the king has taken it."""
    if attacker_to_move and r == d and a != d:
        return f"the kings are on adjacent squares, {describe(d)} and {describe(a)}" if a in NEAR[d] else None
    for one, other, first, second in ((d, a, "the defending king", "the attacking king"),
                                      (d, r, "the defending king", "the rook"),
                                      (a, r, "the attacking king", "the rook")):
        if one == other:
            return f"{first} and {second} are both on {describe(one)}"
    if a in NEAR[d]:
        return f"the kings are on adjacent squares, {describe(d)} and {describe(a)}"
    if attacker_to_move and in_check(d, a, r):
        return (f"the attacking side is to move while the defending king on {describe(d)}"
                f" is in check from the rook on {describe(r)}")
    return None
