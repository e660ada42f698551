// The compressor's dictionary: 256 binary search trees over the window's
// positions, one per first byte, each ordered by the 59 bytes that follow.
// One walk down a tree finds the longest, nearest match and inserts the key.

#include "codec/codec_internal.h"

namespace codec {

void MatchFinder::Reset() {
  for (int i = WINDOW_SIZE + 1; i <= WINDOW_SIZE + 256; i++) link[i][1] = NO_NODE;
  for (int i = 0; i < WINDOW_SIZE; i++) tree_parent[i] = NO_NODE;
}

// Compares the strings at key and at candidate, whose first bytes are
// equal: sets *shared to the number of leading bytes they share (1 to 60)
// and answers whether the key is equal or higher. Eight bytes are compared
// at a time: bytes 1 to 56 in seven words, then 52 to 59 in one overlapping
// word, so that no byte beyond the 60th is read.
static inline bool CompareKey(const uint8_t* key, const uint8_t* candidate, int* shared) {
  for (int i = 1; i < 57; i += 8) {
    uint64_t a = LoadOrdered<uint64_t>(key + i), b = LoadOrdered<uint64_t>(candidate + i);
    if (a != b) {
      *shared = i + __builtin_clzll(a ^ b) / 8;
      return a > b;
    }
  }
  uint64_t a = LoadOrdered<uint64_t>(key + 52), b = LoadOrdered<uint64_t>(candidate + 52);
  if (a != b) {
    *shared = 52 + __builtin_clzll(a ^ b) / 8;
    return a > b;
  }
  *shared = MAX_MATCH;
  return true;
}

// The walk keeps its best candidate as one number, length above distance:
// length × 4096 + (4096 − (r − p) mod 4096). A longer match scores higher
// whatever its distance, and of two equally long the nearer one, so one
// comparison does what "longer, or as long and nearer" says. A candidate
// sharing fewer than 3 bytes counts as length 0 and can never outscore a
// real match.
static inline int Score(int shared, int r, int p) {
  int counted = shared > MATCH_THRESHOLD ? shared : 0;
  return counted * WINDOW_SIZE + WINDOW_SIZE - ((r - p) & (WINDOW_SIZE - 1));
}

static inline void SetMatch(MatchFinder& f, int best) {
  f.match_length = best / WINDOW_SIZE;
  if (f.match_length != 0) f.match_position = static_cast<uint16_t>(WINDOW_SIZE - 1 - best % WINDOW_SIZE);
}

// A full-length match: r takes p's place, so that no two positions in the
// trees ever hold the same string.
static void ReplacePosition(MatchFinder& f, int p, int r) {
  int32_t (*link)[2] = f.link;
  int32_t* tree_parent = f.tree_parent;
  tree_parent[r] = tree_parent[p];
  link[r][0] = link[p][0];
  link[r][1] = link[p][1];
  tree_parent[link[p][0]] = r;
  tree_parent[link[p][1]] = r;
  int up = tree_parent[p];
  link[up][link[up][1] == p] = r;
  tree_parent[p] = NO_NODE;
}

// One insertion's walk down its tree. Track says whether the walk keeps
// its best match: only the last insertion before an item is coded needs one.
struct Walk {
  const uint8_t* key;
  uint64_t key_head;
  int r;
  int p;
  int next;
  bool higher;
  int best;
};

static inline Walk BeginWalk(MatchFinder& f, int r) {
  Walk walk;
  walk.key = &f.ring[r];
  walk.key_head = LoadOrdered<uint64_t>(walk.key + 1);
  walk.r = r;
  walk.p = WINDOW_SIZE + 1 + walk.key[0];
  walk.next = f.link[walk.p][1];  // the first step from a root goes higher
  walk.higher = true;
  walk.best = 0;
  f.link[r][0] = f.link[r][1] = NO_NODE;
  return walk;
}

// Takes one step down; false once r has been linked in and the walk is over.
template <bool track>
static inline bool StepWalk(MatchFinder& f, Walk& walk) {
  if (walk.next == NO_NODE) {
    // Which side is as good as random: an index, not a branch. (A root
    // has only its higher link, and a walk that stops at a root has gone
    // that way.)
    f.link[walk.p][walk.higher] = walk.r;
    f.tree_parent[walk.r] = walk.p;
    if (track) SetMatch(f, walk.best);
    return false;
  }
  int p = walk.next;
  walk.p = p;
  // Both links are fetched before the comparison that picks one, so the
  // walk waits on one load per node instead of two in a row; and the choice
  // is made without a branch, since it is as good as random.
  int left = f.link[p][0], right = f.link[p][1];
  uint64_t head = LoadOrdered<uint64_t>(&f.ring[p + 1]);
  int shared = 0;
  if (walk.key_head != head) {
    if (track) shared = 1 + __builtin_clzll(walk.key_head ^ head) / 8;
    walk.higher = walk.key_head > head;
  } else {
    walk.higher = CompareKey(walk.key, &f.ring[p], &shared);
    if (shared == MAX_MATCH) {
      if (track) SetMatch(f, Score(shared, walk.r, p));
      ReplacePosition(f, p, walk.r);
      return false;
    }
  }
  if (track) {
    int score = Score(shared, walk.r, p);
    walk.best = score > walk.best ? score : walk.best;
  }
  walk.next = walk.higher ? right : left;
  return true;
}

void MatchFinder::Insert(int r) {
  Walk walk = BeginWalk(*this, r);
  while (StepWalk<true>(*this, walk)) {
  }
}

void MatchFinder::InsertWithoutMatch(int r) {
  Walk walk = BeginWalk(*this, r);
  while (StepWalk<false>(*this, walk)) {
  }
}

// The two walks are independent, so stepping them in turn keeps two chains
// of loads in flight where one walk alone would wait on each of its own.
void MatchFinder::InsertTogether(int ra, int rb, bool match_second) {
  MatchFinder& f = *this;
  Walk a = BeginWalk(f, ra);
  Walk b = BeginWalk(f, rb);
  bool a_on = true, b_on = true;
  if (match_second) {
    while (a_on && b_on) {
      a_on = StepWalk<false>(f, a);
      b_on = StepWalk<true>(f, b);
    }
    while (b_on) b_on = StepWalk<true>(f, b);
  } else {
    while (a_on && b_on) {
      a_on = StepWalk<false>(f, a);
      b_on = StepWalk<false>(f, b);
    }
    while (b_on) b_on = StepWalk<false>(f, b);
  }
  while (a_on) a_on = StepWalk<false>(f, a);
}

void MatchFinder::InsertChain(int first, int last, bool leftward) {
  int root = WINDOW_SIZE + 1 + ring[first];
  link[root][1] = first;
  tree_parent[first] = root;
  for (int p = first; p > last; p--) {
    link[p][0] = leftward ? p - 1 : NO_NODE;
    link[p][1] = leftward ? NO_NODE : p - 1;
    tree_parent[p - 1] = p;
  }
  link[last][0] = link[last][1] = NO_NODE;
}

void MatchFinder::Delete(int p) {
  int up = tree_parent[p];
  if (up == NO_NODE) return;
  int left = link[p][0], right = link[p][1];
  int q;
  if (left != NO_NODE && right != NO_NODE) {
    q = left;
    if (link[q][1] != NO_NODE) {
      // The in-order predecessor: unhooked, it takes p's left subtree.
      do {
        q = link[q][1];
      } while (link[q][1] != NO_NODE);
      int q_up = tree_parent[q], q_left = link[q][0];
      link[q_up][1] = q_left;
      tree_parent[q_left] = q_up;
      link[q][0] = left;
      tree_parent[left] = q;
    }
    link[q][1] = right;
    tree_parent[right] = q;
  } else {
    q = right == NO_NODE ? left : right;
  }
  tree_parent[q] = up;
  // A root's only link is its higher one, which names p then.
  link[up][link[up][1] == p] = q;
  tree_parent[p] = NO_NODE;
}

}  // namespace codec
