// The compressor's dictionary: 256 binary search trees over the window's
// positions, one per first byte, each ordered by the 59 bytes that follow.
// One walk down a tree finds the longest, nearest match and inserts the key.
#include <cstring>

#include "codec/codec_internal.h"

namespace codec {

uint8_t ring[RING_SIZE];
int32_t tree_left[WINDOW_SIZE + 1];
int32_t tree_right[WINDOW_SIZE + 257];
int32_t tree_parent[WINDOW_SIZE + 1];
int32_t match_length;
uint16_t match_position;

void ResetMatchTree() {
  for (int i = WINDOW_SIZE + 1; i <= WINDOW_SIZE + 256; i++) tree_right[i] = NO_NODE;
  for (int i = 0; i < WINDOW_SIZE; i++) tree_parent[i] = NO_NODE;
}

static inline uint64_t Load64(const uint8_t* bytes) {
  uint64_t word;
  memcpy(&word, bytes, sizeof word);
  return word;
}

// Index of the first byte that differs in a machine word pair that differs.
static inline int FirstDifference(uint64_t difference) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  return __builtin_clzll(difference) / 8;
#else
  return __builtin_ctzll(difference) / 8;
#endif
}

// Number of leading bytes, 1 to 60, that the strings at a and b share; their
// first bytes are equal already. Eight bytes are compared at a time: bytes
// 1 to 56 in seven words, then 52 to 59 in one overlapping word, so that no
// byte beyond the 60th is read.
static inline int SharedLength(const uint8_t* a, const uint8_t* b) {
  for (int i = 1; i < 57; i += 8) {
    uint64_t difference = Load64(a + i) ^ Load64(b + i);
    if (difference != 0) return i + FirstDifference(difference);
  }
  uint64_t difference = Load64(a + 52) ^ Load64(b + 52);
  if (difference != 0) return 52 + FirstDifference(difference);
  return MAX_MATCH;
}

void InsertPosition(int r) {
  const uint8_t* key = &ring[r];
  int comparison = 1;
  int p = WINDOW_SIZE + 1 + key[0];
  tree_left[r] = tree_right[r] = NO_NODE;
  match_length = 0;
  for (;;) {
    if (comparison >= 0) {
      if (tree_right[p] == NO_NODE) {
        tree_right[p] = r;
        tree_parent[r] = p;
        return;
      }
      p = tree_right[p];
    } else {
      if (tree_left[p] == NO_NODE) {
        tree_left[p] = r;
        tree_parent[r] = p;
        return;
      }
      p = tree_left[p];
    }
    int shared = SharedLength(key, &ring[p]);
    comparison = shared < MAX_MATCH ? key[shared] - ring[p + shared] : 0;
    if (shared > MATCH_THRESHOLD) {
      uint16_t distance = static_cast<uint16_t>(((r - p) & (WINDOW_SIZE - 1)) - 1);
      if (shared > match_length) {
        match_position = distance;
        match_length = shared;
        if (shared >= MAX_MATCH) break;
      } else if (shared == match_length && distance < match_position) {
        match_position = distance;
      }
    }
  }
  // A full-length match: r takes p's place, so that no two positions in the
  // trees ever hold the same string.
  tree_parent[r] = tree_parent[p];
  tree_left[r] = tree_left[p];
  tree_right[r] = tree_right[p];
  tree_parent[tree_left[p]] = r;
  tree_parent[tree_right[p]] = r;
  if (tree_right[tree_parent[p]] == p) {
    tree_right[tree_parent[p]] = r;
  } else {
    tree_left[tree_parent[p]] = r;
  }
  tree_parent[p] = NO_NODE;
}

void DeletePosition(int p) {
  if (tree_parent[p] == NO_NODE) return;
  int q;
  if (tree_right[p] == NO_NODE) {
    q = tree_left[p];
  } else if (tree_left[p] == NO_NODE) {
    q = tree_right[p];
  } else {
    q = tree_left[p];
    if (tree_right[q] != NO_NODE) {
      do {
        q = tree_right[q];
      } while (tree_right[q] != NO_NODE);
      tree_right[tree_parent[q]] = tree_left[q];
      tree_parent[tree_left[q]] = tree_parent[q];
      tree_left[q] = tree_left[p];
      tree_parent[tree_left[p]] = q;
    }
    tree_right[q] = tree_right[p];
    tree_parent[tree_right[p]] = q;
  }
  tree_parent[q] = tree_parent[p];
  if (tree_right[tree_parent[p]] == p) {
    tree_right[tree_parent[p]] = q;
  } else {
    tree_left[tree_parent[p]] = q;
  }
  tree_parent[p] = NO_NODE;
}

}  // namespace codec
