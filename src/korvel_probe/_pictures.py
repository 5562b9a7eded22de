"""Pictures as SVG text: a distance-to-mate map of the defending king's squares, and a board
with its best moves as arrows. Pieces, colours and layout are drawn here, with no library."""

from typing import List, Optional, Tuple

from . import _index
from ._index import NO_POSITION
from ._probe import DRAW, ROOK_CAPTURABLE, best_moves, in_words, value
from ._rules import in_check, position_number
from ._squares import FILES, NAMES, Square, describe, square_number

SQUARE = 48  # pixels a square
MARGIN = 22  # for the file letters and rank numbers
LIGHT, DARK = "#f0d9b5", "#b58863"  # the board's squares
NO_VALUE_LIGHT, NO_VALUE_DARK = "#e6e6e6", "#d0d0d0"  # a map's squares where the position is illegal
LONGEST = 32  # the longest mate, in plies: the top of the colour scale
FONT = "font-family='DejaVu Sans, Helvetica, Arial, sans-serif'"

# A sequential scale that stays legible in grey and to colour-blind eyes, short mates dark.
_SCALE = [(0x44, 0x01, 0x54), (0x3b, 0x52, 0x8b), (0x21, 0x91, 0x8c), (0x5e, 0xc9, 0x62), (0xfd, 0xe7, 0x25)]
STALEMATE_FILL, CAPTURABLE_FILL = "#ffffff", "#f2b8b5"

# Pieces in a 45-unit box: lines drawn in black, the outline filled in the piece's colour,
# and lines drawn on it in the other colour.
_KING = ("M22.5 2.5v10M17.5 7h10",
         "M13.5 33L9.5 18q13-10.5 26 0L31.5 33zM8.5 33.5h28v6h-28z",
         "M12.5 27.5h20")
_ROOK = ("",
         "M7.5 35h30v5h-30zM11 30.5h23V35H11zM13.5 17.5h18v13h-18zM10 17.5V8h5.5v3.5H20V8h5v3.5h4.5V8H35v9.5z",
         "M13.5 17.5h18")


class Svg(str):
    """An SVG picture as text: write it to a .svg file, or let Jupyter show it."""

    def _repr_svg_(self) -> str:
        return str(self)


def _colour(plies: int) -> str:
    """The scale's colour for a mate in so many plies."""
    t = min(max(plies, 0), LONGEST) / LONGEST * (len(_SCALE) - 1)
    i = min(int(t), len(_SCALE) - 2)
    f = t - i
    return "#" + "".join(f"{round(a + (b - a) * f):02x}" for a, b in zip(_SCALE[i], _SCALE[i + 1]))


def _ink(plies: int) -> str:
    """Text that reads on the scale's colour: white on its dark half."""
    return "#ffffff" if plies < LONGEST * 0.55 else "#000000"


def _piece(shape: Tuple[str, str, str], x: float, y: float, white: bool) -> str:
    """A piece on the square whose top left corner is (x, y)."""
    cross, body, lines = shape
    fill, line = ("#ffffff", "#000000") if white else ("#000000", "#ffffff")
    scale = SQUARE / 41  # the middle 41 units of the box fill the square
    return (f"<g transform='translate({x - 2 * scale:g},{y - 2 * scale:g}) scale({scale:g})'"
            " stroke='#000000' stroke-width='1.5'"
            f" stroke-linecap='round' stroke-linejoin='round'>"
            + (f"<path d='{cross}' fill='none' stroke-width='2.2'/>" if cross else "")
            + f"<path d='{body}' fill='{fill}'/><path d='{lines}' fill='none' stroke='{line}'/></g>")


def _corner(n: int, top: float) -> Tuple[float, float]:
    """The top left corner of square n on a board drawn from white's side."""
    x, y = divmod(n, 8)
    return MARGIN + x * SQUARE, top + (7 - y) * SQUARE


def _coordinates(top: float) -> List[str]:
    parts = []
    for i in range(8):
        parts.append(f"<text x='{MARGIN + (i + 0.5) * SQUARE:g}' y='{top + 8 * SQUARE + 16:g}' font-size='13'"
                     f" text-anchor='middle' {FONT} fill='#333333'>{FILES[i]}</text>")
        parts.append(f"<text x='{MARGIN / 2:g}' y='{top + (7.5 - i) * SQUARE + 5:g}' font-size='13'"
                     f" text-anchor='middle' {FONT} fill='#333333'>{i + 1}</text>")
    return parts


def _label(x: float, y: float, text: str, ink: str, size: int = 17) -> str:
    return (f"<text x='{x + SQUARE / 2:g}' y='{y + SQUARE / 2 + size * 0.36:g}' font-size='{size}'"
            f" font-weight='bold' text-anchor='middle' {FONT} fill='{ink}'>{text}</text>")


def _svg(width: float, height: float, parts: List[str]) -> Svg:
    return Svg(f"<svg xmlns='http://www.w3.org/2000/svg' width='{width:g}' height='{height:g}'"
               f" viewBox='0 0 {width:g} {height:g}'><rect width='100%' height='100%' fill='#ffffff'/>"
               + "".join(parts) + "</svg>\n")


def _plain_square(n: int, top: float, light: str = LIGHT, dark: str = DARK) -> str:
    x, y = _corner(n, top)
    fill = dark if (n // 8 + n % 8) % 2 == 0 else light
    return f"<rect x='{x:g}' y='{y:g}' width='{SQUARE}' height='{SQUARE}' fill='{fill}'/>"


def dtm_map_svg(attacking_king: Square, rook: Square, attacker_to_move: bool) -> Svg:
    """A map of the board with the attacking king and rook placed: every square the
    defending king could stand on coloured by the plies to mate, with the number, "=" where
    it is stalemated, "×" where it can take the rook, and plain where the position would be
    illegal; a legend beside it."""
    a = square_number("attacking_king", attacking_king)
    r = square_number("rook", rook)
    if type(attacker_to_move) is not bool:
        raise TypeError(f"attacker_to_move must be a bool, not {type(attacker_to_move).__name__}")
    if a == r:
        raise ValueError(f"illegal position: the attacking king and the rook are both on {describe(a)}")
    found = _index.INDEX or _index.index()
    top = 58.0
    side = "the attacking side" if attacker_to_move else "the defending king"
    parts = [f"<text x='{MARGIN}' y='24' font-size='17' font-weight='bold' {FONT}>"
             "Plies to mate, by the defending king's square</text>",
             f"<text x='{MARGIN}' y='44' font-size='13' {FONT} fill='#333333'>"
             f"King {NAMES[a]}, rook {NAMES[r]}; {side} to move</text>"]
    for d in range(64):
        x, y = _corner(d, top)
        v = found[position_number(attacker_to_move, d, a, r)]
        if v == NO_POSITION:
            parts.append(_plain_square(d, top, NO_VALUE_LIGHT, NO_VALUE_DARK))
            continue
        if v >= DRAW:
            fill, text, ink = (CAPTURABLE_FILL, "×", "#7a1712") if v == ROOK_CAPTURABLE else (STALEMATE_FILL, "=", "#000000")
        else:
            fill, text, ink = _colour(v), "#" if v == 0 else str(v), _ink(v)
        parts.append(f"<rect x='{x:g}' y='{y:g}' width='{SQUARE}' height='{SQUARE}' fill='{fill}'/>")
        parts.append(_label(x, y, text, ink))
    parts.append(_piece(_KING, *_corner(a, top), True))
    parts.append(_piece(_ROOK, *_corner(r, top), True))
    parts.append(f"<rect x='{MARGIN}' y='{top:g}' width='{8 * SQUARE}' height='{8 * SQUARE}' fill='none'"
                 " stroke='#555555'/>")
    parts.extend(_coordinates(top))
    parts.extend(_legend(MARGIN + 8 * SQUARE + 26, top))
    return _svg(MARGIN + 8 * SQUARE + 200, top + 8 * SQUARE + 30, parts)


def _legend(left: float, top: float) -> List[str]:
    """The colour scale, 0 to 32 plies from the top down, and the marks' meanings."""
    height = 5 * SQUARE
    parts = [f"<text x='{left:g}' y='{top + 4:g}' font-size='13' font-weight='bold' {FONT}>plies to mate</text>"]
    bar_top = top + 16
    steps = 64
    for i in range(steps):
        parts.append(f"<rect x='{left:g}' y='{bar_top + i * height / steps:g}' width='18'"
                     f" height='{height / steps + 0.5:g}' fill='{_colour(round(i * LONGEST / (steps - 1)))}'/>")
    for plies in range(0, LONGEST + 1, 4):
        y = bar_top + plies / LONGEST * height
        text = "0 (#, checkmate)" if plies == 0 else str(plies)
        parts.append(f"<line x1='{left + 18:g}' y1='{y:g}' x2='{left + 23:g}' y2='{y:g}' stroke='#333333'/>")
        parts.append(f"<text x='{left + 27:g}' y='{y + 4.5:g}' font-size='12' {FONT} fill='#333333'>{text}</text>")
    y = bar_top + height + 26
    for fill, mark, ink, meaning in ((STALEMATE_FILL, "=", "#000000", "stalemate"),
                                     (CAPTURABLE_FILL, "×", "#7a1712", "can take the rook"),
                                     (NO_VALUE_LIGHT, "", "#000000", "illegal")):
        parts.append(f"<rect x='{left:g}' y='{y:g}' width='22' height='22' fill='{fill}' stroke='#999999'/>")
        parts.append(f"<text x='{left + 11:g}' y='{y + 16:g}' font-size='15' font-weight='bold'"
                     f" text-anchor='middle' {FONT} fill='{ink}'>{mark}</text>")
        parts.append(f"<text x='{left + 30:g}' y='{y + 15.5:g}' font-size='12' {FONT} fill='#333333'>{meaning}</text>")
        y += 30
    return parts


def _arrow(start: int, end: int, top: float) -> str:
    """An arrow for a move, from its square to near the middle of the other."""
    x1, y1 = (c + SQUARE / 2 for c in _corner(start, top))
    x2, y2 = (c + SQUARE / 2 for c in _corner(end, top))
    length = ((x2 - x1) ** 2 + (y2 - y1) ** 2) ** 0.5
    ux, uy = (x2 - x1) / length, (y2 - y1) / length
    x1, y1 = x1 + ux * SQUARE * 0.3, y1 + uy * SQUARE * 0.3  # leaving the piece in sight
    head, half, shaft = SQUARE * 0.42, SQUARE * 0.2, SQUARE * 0.075
    tip_x, tip_y = x2 - ux * SQUARE * 0.12, y2 - uy * SQUARE * 0.12
    base_x, base_y = tip_x - ux * head, tip_y - uy * head
    points = [(x1 + uy * shaft, y1 - ux * shaft), (base_x + uy * shaft, base_y - ux * shaft),
              (base_x + uy * half, base_y - ux * half), (tip_x, tip_y),
              (base_x - uy * half, base_y + ux * half), (base_x - uy * shaft, base_y + ux * shaft),
              (x1 - uy * shaft, y1 + ux * shaft)]
    return ("<polygon points='" + " ".join(f"{px:.1f},{py:.1f}" for px, py in points)
            + "' fill='#15781b' fill-opacity='0.75'/>")


def board_svg(defending_king: Square, attacking_king: Square, rook: Square, attacker_to_move: bool,
              white_attacks: bool = True, caption: Optional[str] = None) -> Svg:
    """A board with the position and an arrow for each of its best moves, and a caption:
    the side to move and its result, unless one is given. The king and rook are white, or
    black with white_attacks=False; a rook on the defending king's square has been taken."""
    v = value(defending_king, attacking_king, rook, attacker_to_move)
    d = square_number("defending_king", defending_king)
    a = square_number("attacking_king", attacking_king)
    r = square_number("rook", rook)
    if type(white_attacks) is not bool:
        raise TypeError(f"white_attacks must be a bool, not {type(white_attacks).__name__}")
    top = 8.0
    parts = [_plain_square(n, top) for n in range(64)]
    if r != d and not attacker_to_move and in_check(d, a, r):
        x, y = _corner(d, top)
        parts.append(f"<rect x='{x:g}' y='{y:g}' width='{SQUARE}' height='{SQUARE}' fill='#e04b3a' fill-opacity='0.55'/>")
    parts.append(_piece(_KING, *_corner(d, top), not white_attacks))
    parts.append(_piece(_KING, *_corner(a, top), white_attacks))
    if r != d:
        parts.append(_piece(_ROOK, *_corner(r, top), white_attacks))
    for move in best_moves(defending_king, attacking_king, rook, attacker_to_move):
        parts.append(_arrow(NAMES.index(move[:2]), NAMES.index(move[2:]), top))
    parts.append(f"<rect x='{MARGIN}' y='{top:g}' width='{8 * SQUARE}' height='{8 * SQUARE}' fill='none'"
                 " stroke='#555555'/>")
    parts.extend(_coordinates(top))
    if caption is None:
        mover = "White" if attacker_to_move == white_attacks else "Black"
        caption = f"{mover} to move: {in_words(v, attacker_to_move)}"
    parts.append(f"<text x='{MARGIN}' y='{top + 8 * SQUARE + 40:g}' font-size='15' {FONT}>{_escape(caption)}</text>")
    return _svg(MARGIN + 8 * SQUARE + 10, top + 8 * SQUARE + 52, parts)


def _escape(text: str) -> str:
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")
