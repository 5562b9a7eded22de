// korvel bucket position: where Boost.Unordered puts a hash among a table's
// buckets, reckoned as Boost itself does, so that the memo can ask for a
// bucket's memory before it looks the key up.
#pragma once

#include <cstddef>

#include <boost/unordered_map.hpp>
#include <boost/version.hpp>

namespace korvel::detail {

// ---- Contents -------------------------------------------------------------
// The bucket of a hash among `bucket_count` buckets, in a table of `Key`s
// that hashes its key to `hash`: the same as the table's bucket(key), as
// memo_test checks. What depends on the count alone is worked out once, for
// a batch of keys: that is what makes a prefetch cheap.
template <typename Key>
class BucketPosition;

// ---- Definitions --------------------------------------------------------------
#if BOOST_VERSION >= 108000  // buckets counted in primes, a hash taken modulo their count
template <typename Key>
class BucketPosition {
public:
    explicit BucketPosition(std::size_t bucket_count) : size_index_(sizes::size_index(bucket_count)) {}
    std::size_t operator()(std::size_t hash) const { return sizes::position(hash, size_index_); }

private:
    using sizes = boost::unordered::detail::prime_fmod_size<>;
    std::size_t size_index_;
};
#else  // buckets counted in powers of two, a hash mixed and masked
template <typename Key>
class BucketPosition {
public:
    explicit BucketPosition(std::size_t bucket_count) : bucket_count_(bucket_count) {}
    std::size_t operator()(std::size_t hash) const {
        return policy::to_bucket(bucket_count_, policy::apply_hash(Given{hash}, Key()));
    }

private:
    using policy = typename boost::unordered::detail::pick_policy<Key>::type;
    struct Given {
        std::size_t hash;
        std::size_t operator()(const Key&) const { return hash; }
    };
    std::size_t bucket_count_;
};
#endif

}  // namespace korvel::detail
