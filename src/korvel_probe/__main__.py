"""The command line: a FEN's result, its moves best first and the line to mate, as text or as
a tablebase explorer's JSON, and the board as an SVG picture."""

import argparse
import json
import os
import sys
from typing import Any, Dict, List, Optional

from . import _fen
from ._pictures import board_svg
from ._probe import CHECKMATE, DRAW, Move, Position, from_fen, in_words, mate_line, moves, outcome, play, value


def _flags(value: int, attacker_to_move: bool) -> Dict[str, bool]:
    """How a game over ends, in the explorers' words."""
    return {"checkmate": value == CHECKMATE and not attacker_to_move,
            "stalemate": value == DRAW and not attacker_to_move,
            "insufficient_material": value == DRAW and attacker_to_move}


def explore(position: Position) -> Dict[str, Any]:
    """The answer a tablebase explorer gives: the result for the side to move, and every
    move best first with the result for the side to move after it."""
    v = value(*position)
    found: List[Dict[str, Any]] = []
    for move in moves(*position):
        after = not position.attacker_to_move
        found.append({"uci": move.uci, "san": move.san, "category": move.category, "dtm": move.dtm,
                      **_flags(move.value, after)})
    category, dtm = outcome(v, position.attacker_to_move)
    return {"category": category, "dtm": dtm, **_flags(v, position.attacker_to_move), "moves": found}


def _mover_words(move: Move, attacker_to_move: bool) -> str:
    """A move's result for the side that makes it, counting the move itself."""
    if move.value >= DRAW:
        return "draw, takes the rook" if not attacker_to_move else in_words(move.value, False)
    return in_words(move.value + 1, attacker_to_move)


def _line_san(position: Position, white_to_move: bool, fullmove: int) -> str:
    """The line to mate in SAN, numbered from the FEN's move number."""
    text, number, white, line = [], fullmove, white_to_move, mate_line(*position)
    if not white and line:
        text.append(f"{number}...")
    for uci in line:
        san = next(move.san for move in moves(*position) if move.uci == uci)
        text.append(f"{number}. {san}" if white else san)
        position = play(*position, uci)
        number += not white
        white = not white
    return " ".join(text)


def _text(fen: str, position: Position, white_attacks: bool, fullmove: int) -> str:
    white_to_move = position.attacker_to_move == white_attacks
    mover = "White" if white_to_move else "Black"
    lines = [fen, f"{mover} to move: {in_words(value(*position), position.attacker_to_move)}"]
    listed = moves(*position)
    if listed:
        lines += ["", "move    uci     result for " + mover]
        lines += [f"{move.san:7} {move.uci:7} {_mover_words(move, position.attacker_to_move)}" for move in listed]
    line = _line_san(position, white_to_move, fullmove)
    if line:
        lines += ["", "Line to mate: " + line]
    return "\n".join(lines)


def main(argv: Optional[List[str]] = None) -> int:
    program = os.path.basename(sys.argv[0]) if sys.argv and sys.argv[0] else "korvel-probe"
    parser = argparse.ArgumentParser(
        prog="python -m korvel_probe" if program == "__main__.py" else program,
        description="King and rook against king: the result of a position given as a FEN, every"
                    " move best first with its result, and the line to mate.")
    parser.add_argument("fen", nargs="+", help="the position, e.g. '8/8/8/8/8/8/8/k1K4R w - - 0 1'"
                                               " (its fields may also be given as separate arguments)")
    parser.add_argument("--json", action="store_true",
                        help="print one JSON object as tablebase explorers answer: category, dtm, moves")
    parser.add_argument("--svg", metavar="FILE", help="also write the board with its best moves as arrows")
    args = parser.parse_args(argv)
    fen = " ".join(args.fen)
    try:
        position = from_fen(fen)
        white_attacks = _fen.read(fen)[4]
        fullmove = _fen.fields(fen).fullmove
    except ValueError as error:
        parser.exit(2, f"{parser.prog}: error: {error}\n")
    if args.svg is not None:
        try:
            with open(args.svg, "w", encoding="utf-8") as picture:
                picture.write(board_svg(*position, white_attacks=white_attacks))
        except OSError as error:
            parser.exit(1, f"{parser.prog}: error: cannot write {args.svg!r}: {error.strerror or error}\n")
    output = json.dumps(explore(position)) if args.json else _text(fen, position, white_attacks, fullmove)
    try:
        print(output, flush=True)
    except BrokenPipeError:
        # A reader that stopped early (| head): say nothing more, and let the
        # interpreter's last flush at exit write nowhere rather than fail again.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
