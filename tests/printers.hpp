// Readable squares and positions in test failure messages.
#pragma once

#include <ostream>

#include "solver/board.hpp"

namespace korvel {

inline std::ostream& operator<<(std::ostream& out, Square s) { return out << '(' << s.x << ", " << s.y << ')'; }

inline std::ostream& operator<<(std::ostream& out, const Position& p) {
    return out << '(' << p.defending_king << ", " << p.attacking_king << ", " << p.rook << ')';
}

}  // namespace korvel
