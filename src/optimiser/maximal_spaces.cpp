// Maximal free spaces of a box.
#include "optimiser/maximal_spaces.hpp"

namespace stowvex::optimiser {

void MaximalSpaces::erase(std::size_t index) {
    spaces_[index] = spaces_.back();
    spaces_.pop_back();
    waiting_[index] = waiting_.back();
    waiting_.pop_back();
}

void MaximalSpaces::add_maximal_pieces(std::size_t kept) {
    spaces_.resize(kept);
    waiting_.resize(kept);
    // A new piece inside a space that the cut left alone, or inside another
    // new piece, is not maximal. (A space left alone never lies inside a new
    // piece: it would then have lain inside the space the piece came from.)
    for (std::size_t i = 0; i < pieces_.size(); ++i) {
        const Cuboid& piece = pieces_[i];
        bool inside = false;
        std::size_t tests = 0;
        for (std::size_t j = 0; j < kept && !inside; ++j, ++tests) {
            inside = contains(spaces_[j], piece);
        }
        for (std::size_t j = 0; j < pieces_.size() && !inside; ++j, ++tests) {
            // Of two equal pieces the first stays.
            if (j != i && contains(pieces_[j], piece))
                inside = j < i || !contains(piece, pieces_[j]);
        }
        // The containment tests really made (two to a unit: a test is a
        // few comparisons), and the piece itself.
        work_ += tests / 2 + 1;
        if (!inside) {
            spaces_.push_back(piece);
            waiting_.push_back(0);
        }
    }
}

}  // namespace stowvex::optimiser
