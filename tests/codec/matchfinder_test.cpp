#include <cstring>
#include <set>

#include "codec_support.h"

using namespace codec;

namespace {

// Fills the window with random bytes that avoid 'X', so that only the
// strings a test places there start with it; keeps the mirror in step.
void FillRing(unsigned seed) {
  std::string bytes = RandomBytes(RING_SIZE, seed);
  for (int i = 0; i < WINDOW_SIZE; i++) ring[i] = bytes[i] == 'X' ? 'x' : static_cast<uint8_t>(bytes[i]);
  memcpy(ring + WINDOW_SIZE, ring, MAX_MATCH - 1);
}

void Place(int position, const std::string& bytes) {
  memcpy(ring + position, bytes.data(), bytes.size());
}

// The positions of the tree for first byte c, in order.
void Walk(int node, std::vector<int>* out) {
  if (node == NO_NODE) return;
  Walk(tree_left[node], out);
  out->push_back(node);
  Walk(tree_right[node], out);
}

std::vector<int> TreeOf(int c) {
  std::vector<int> positions;
  Walk(tree_right[WINDOW_SIZE + 1 + c], &positions);
  return positions;
}

// Every tree is a binary search tree over the 60-byte strings, without two
// equal strings, with parent links that match the child links.
void ExpectValidTrees(std::set<int>* members = nullptr) {
  for (int c = 0; c < 256; c++) {
    int root = WINDOW_SIZE + 1 + c;
    std::vector<int> positions = TreeOf(c);
    if (!positions.empty()) {
      ASSERT_EQ(tree_parent[tree_right[root]], root);
    }
    for (size_t i = 0; i < positions.size(); i++) {
      int p = positions[i];
      ASSERT_EQ(ring[p], c);
      if (tree_left[p] != NO_NODE) {
        ASSERT_EQ(tree_parent[tree_left[p]], p);
      }
      if (tree_right[p] != NO_NODE) {
        ASSERT_EQ(tree_parent[tree_right[p]], p);
      }
      if (i > 0) {
        ASSERT_LT(memcmp(ring + positions[i - 1], ring + p, MAX_MATCH), 0);
      }
      if (members != nullptr) members->insert(p);
    }
  }
}

class MatchFinder : public testing::Test {
 protected:
  void SetUp() override {
    FillRing(1);
    ResetMatchTree();
  }
};

TEST_F(MatchFinder, IgnoresCandidatesSharingFewerThanThreeBytes) {
  Place(100, "XYq");
  Place(200, "Xq");
  Place(1000, "XYZ");
  InsertPosition(100);
  InsertPosition(200);
  InsertPosition(1000);
  EXPECT_EQ(match_length, 0);
}

TEST_F(MatchFinder, NearestOfEqualLengthWinsWhicheverIsMetFirst) {
  // The key lies between the two candidates, so the walk meets both in
  // either order of insertion.
  for (bool near_is_higher : {false, true}) {
    for (bool near_first : {false, true}) {
      SetUp();
      Place(1000, "XYZM");
      Place(900, near_is_higher ? "XYZZ" : "XYZB");
      Place(100, near_is_higher ? "XYZB" : "XYZZ");
      InsertPosition(near_first ? 900 : 100);
      InsertPosition(near_first ? 100 : 900);
      InsertPosition(1000);
      EXPECT_EQ(match_length, 3);
      EXPECT_EQ(match_position, 99) << near_is_higher << near_first;
    }
  }
}

TEST_F(MatchFinder, LongerBeatsNearer) {
  for (bool near_first : {false, true}) {
    SetUp();
    Place(1000, "XYZMNm");
    Place(900, "XYZZ");
    Place(100, "XYZMNa");
    InsertPosition(near_first ? 900 : 100);
    InsertPosition(near_first ? 100 : 900);
    InsertPosition(1000);
    EXPECT_EQ(match_length, 5);
    EXPECT_EQ(match_position, 1000 - 100 - 1);
  }
}

TEST_F(MatchFinder, FullMatchReplacesTheIndexedPosition) {
  std::string string = "X" + RandomBytes(59, 2);
  Place(500, string);
  Place(2000, string);
  Place(300, "XA");
  Place(700, "X\xff");
  Place(600, string.substr(0, 30) + "\x01");  // below 500, inside its subtree
  for (int p : {300, 500, 700, 600}) InsertPosition(p);
  std::vector<int> before = TreeOf('X');

  InsertPosition(2000);
  EXPECT_EQ(match_length, MAX_MATCH);
  EXPECT_EQ(match_position, 2000 - 500 - 1);
  std::vector<int> after = TreeOf('X');
  for (int& p : before) {
    if (p == 500) p = 2000;
  }
  EXPECT_EQ(after, before);
  EXPECT_EQ(tree_parent[500], NO_NODE);
  ExpectValidTrees();

  // The replaced position is in no tree now: deleting it changes nothing.
  DeletePosition(500);
  EXPECT_EQ(TreeOf('X'), after);

  // A run of equal strings keeps only the last of them.
  memset(ring + 3000, 'X', 200);
  for (int p = 3000; p < 3100; p++) InsertPosition(p);
  std::vector<int> run;
  for (int p : TreeOf('X')) {
    if (p >= 3000) run.push_back(p);
  }
  EXPECT_EQ(run, std::vector<int>{3099});
}

TEST_F(MatchFinder, InsertAndDeleteKeepEveryTreeOrdered) {
  // Few byte values, so that strings share long prefixes and the trees grow
  // deep; positions come and go in random order.
  std::string bytes = RandomBytes(RING_SIZE, 3);
  for (int i = 0; i < WINDOW_SIZE; i++) ring[i] = "ab"[bytes[i] & 1];
  for (int i = 0; i < WINDOW_SIZE; i += 97) memset(ring + i, 'a', 40);
  memcpy(ring + WINDOW_SIZE, ring, MAX_MATCH - 1);
  std::mt19937 generator(4);
  std::set<int> model;
  for (int step = 0; step < 20000; step++) {
    int p = static_cast<int>(generator() % WINDOW_SIZE);
    if (generator() % 3 != 0) {
      DeletePosition(p);  // the compressor never inserts a position twice
      InsertPosition(p);
      model.insert(p);
      if (match_length == MAX_MATCH) {
        model.erase((p - match_position - 1) & (WINDOW_SIZE - 1));
      }
    } else {
      DeletePosition(p);
      model.erase(p);
    }
    if (step % 1000 == 0) {
      std::set<int> members;
      ExpectValidTrees(&members);
      ASSERT_EQ(members, model) << "step " << step;
    }
  }
  std::set<int> members;
  ExpectValidTrees(&members);
  EXPECT_EQ(members, model);
}

// Through the compressor: the window reaches back 4036 bytes, no further.
TEST(MatchWindow, ReachesBack4036BytesAndNoFurther) {
  std::string block = RandomBytes(100, 5);
  for (size_t distance : {4036u, 4037u}) {
    std::string data = block + RandomBytes(distance - block.size(), 6) + block;
    std::vector<Item> items = ParseItems(Compress(data));
    size_t offset = 0;
    Item at_repeat{-1, 0};
    for (const Item& item : items) {
      if (offset == distance) at_repeat = item;
      offset += item.length == 0 ? 1 : static_cast<size_t>(item.length);
    }
    if (distance == 4036) {
      EXPECT_EQ(at_repeat, (Item{MAX_MATCH, 4035}));
    } else {
      EXPECT_EQ(at_repeat, (Item{0, static_cast<unsigned char>(block[0])}));
    }
  }
}

}  // namespace
