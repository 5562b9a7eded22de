// korvel orientation: the symmetries, and the array of where they take every square.
#include "orientation.hpp"

namespace korvel {
namespace {

constexpr std::int32_t last_line = board_size - 1;

constexpr Square mirror_columns(Square s) { return {last_line - s.x, s.y}; }
constexpr Square mirror_rows(Square s) { return {s.x, last_line - s.y}; }
constexpr Square swap_axes(Square s) { return {s.y, s.x}; }
constexpr Square mirror_anti_diagonal(Square s) { return {last_line - s.y, last_line - s.x}; }

// Step one: the symmetry that brings the defending king to x <= 3, y >= 4.
constexpr Square first_step(Square defending_king, Square square) {
    const bool upper_half = defending_king.y >= half_board;
    const bool left_half = defending_king.x < half_board;
    if (upper_half && !left_half) return mirror_columns(square);
    if (!upper_half && left_half) return mirror_rows(square);
    if (!upper_half && !left_half) return swap_axes(square);
    return square;
}

// Step two: the reflection in x + y = 7 when the king then stands below that line.
constexpr Square second_step(Square defending_king, Square square) {
    return defending_king.x < last_line - defending_king.y ? mirror_anti_diagonal(square) : square;
}

constexpr Square canonical_image(Square defending_king, Square square) {
    return second_step(first_step(defending_king, defending_king), first_step(defending_king, square));
}

}  // namespace

namespace detail {

constexpr std::array<SquareImages, square_count> canonical_images_by_king = [] {
    std::array<SquareImages, square_count> images{};
    for (int king = 0; king < square_count; ++king)
        for (int square = 0; square < square_count; ++square) {
            const Square image = canonical_image(square_at(SquareIndex(king)), square_at(SquareIndex(square)));
            images[std::size_t(king)][std::size_t(square)] = square_index(image);
        }
    return images;
}();

}  // namespace detail

}  // namespace korvel
