#include "foundation/ZnDoubleLinkedList.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace {

class ZnDoubleLinkedListTest : public ::testing::Test {
 protected:
  void* item(int i) { return &items_[i]; }

  // A list of items 0 .. n-1.
  void fill(ZnDoubleLinkedList& list, int n) {
    for (int i = 0; i < n; ++i) list.append(item(i));
  }

  // The live elements, as item numbers, by a walk with a cursor of type C.
  template <class C, class L>
  std::vector<int> walk(L& list) {
    std::vector<int> out;
    C end(list, C::PastEnd);
    for (C c(list); c != end; c.next())
      out.push_back(static_cast<int>(static_cast<int*>(c.data()) - items_));
    return out;
  }

  std::vector<int> contents(ZnDoubleLinkedList& list) {
    std::vector<int> changing = walk<ZnDLListCursor>(list);
    EXPECT_EQ(changing, walk<ZnDLListReadCursor>(list));
    EXPECT_EQ(static_cast<int>(changing.size()), list.count());
    return changing;
  }

  int items_[10] = {};
};

using Items = std::vector<int>;

TEST_F(ZnDoubleLinkedListTest, BuildingAndWalking) {
  ZnDoubleLinkedList list;
  ZnDLListCursor onEmpty(list);
  EXPECT_TRUE(onEmpty.atEnd());
  EXPECT_EQ(nullptr, onEmpty.node());
  EXPECT_EQ(Items{}, contents(list));

  list.append(item(1));
  list.prepend(item(0));
  list.append(item(2));
  EXPECT_EQ((Items{0, 1, 2}), contents(list));
  EXPECT_EQ(item(2), list[2]);
  EXPECT_EQ(item(2), list.lastLiveNode()->item);
  EXPECT_EQ(item(1), list.nodeAt(1)->item);

  ZnDLListReadCursor c(list, ZnDLListReadCursor::PastEnd);
  EXPECT_EQ(3, c.index());
  EXPECT_EQ(item(2), c.prev()->item);
  EXPECT_EQ(2, c.index());
  EXPECT_EQ(item(1), c.prev()->item);
  EXPECT_EQ(item(1), c.data());
  EXPECT_EQ(item(0), c.first()->item);
  EXPECT_EQ(item(2), c.last()->item);
  EXPECT_EQ(item(1), c.goTo(1)->item);
  EXPECT_EQ(1, c.index());
}

TEST_F(ZnDoubleLinkedListTest, RemoveNodeWithoutCursorsFreesAtOnce) {
  struct {
    int count;
    int removed;
    Items left;
  } cases[] = {
      {1, 0, {}},
      {3, 0, {1, 2}},
      {3, 1, {0, 2}},
      {3, 2, {0, 1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.count) + " remove " + std::to_string(c.removed));
    ZnDoubleLinkedList list;
    fill(list, c.count);
    EXPECT_EQ(item(c.removed), list.removeNode(list.nodeAt(c.removed)));
    EXPECT_EQ(c.left, contents(list));
    EXPECT_EQ(c.count - 1, list.chainLength());
    if (c.left.empty()) {
      EXPECT_EQ(nullptr, list.firstNode());
      EXPECT_EQ(nullptr, list.lastNode());
    } else {
      EXPECT_EQ(item(c.left.front()), list.firstNode()->item);
      EXPECT_EQ(item(c.left.back()), list.lastNode()->item);
      EXPECT_EQ(nullptr, list.firstNode()->prev);
      EXPECT_EQ(nullptr, list.lastNode()->next);
    }
  }
}

TEST_F(ZnDoubleLinkedListTest, RemovalUnderCursorsFreesWhenTheLastCursorLeaves) {
  ZnDoubleLinkedList list;
  fill(list, 3);
  {
    ZnDLListCursor a(list);
    a.goTo(1);
    ZnDLListCursor b(a);
    EXPECT_EQ(item(1), a.remove());
    EXPECT_EQ(2, list.count());
    EXPECT_EQ(3, list.chainLength());
    EXPECT_EQ(item(2), list[1]);
    EXPECT_EQ(1, b.index());
    EXPECT_TRUE(a == b);

    EXPECT_EQ(item(2), a.next()->item);
    EXPECT_EQ(3, list.chainLength());
    EXPECT_EQ(item(0), b.prev()->item);
    EXPECT_EQ(2, list.chainLength());
    EXPECT_EQ((Items{0, 2}), contents(list));
  }
  // removeAt's own cursor is the only one, so the node goes with it.
  EXPECT_EQ(item(2), list.removeAt(1));
  EXPECT_EQ(1, list.chainLength());
  EXPECT_EQ(nullptr, list.removeAt(5));
  EXPECT_EQ(item(0), list.lastNode()->item);

  // Removing through the list under a cursor, and stepping from the gap.
  fill(list, 3);
  ZnDLListCursor c(list);
  c.goTo(2);
  EXPECT_EQ(item(1), list.removeNode(c.node()));
  EXPECT_EQ(nullptr, list.removeNode(c.node()));
  EXPECT_EQ(3, list.count());
  EXPECT_EQ(item(2), c.next()->item);
  EXPECT_EQ((Items{0, 0, 2}), contents(list));
  EXPECT_EQ(3, list.chainLength());
}

TEST_F(ZnDoubleLinkedListTest, CopiedAndAssignedCursorsHoldTheirOwnReference) {
  ZnDoubleLinkedList list;
  fill(list, 4);
  ZnDLListCursor a(list);
  a.goTo(1);
  ZnDLListCursor b(list);
  b = a;
  a.remove();
  ZnDLListCursor c(list, ZnDLListCursor::PastEnd);
  a = c;
  EXPECT_EQ(4, list.chainLength());
  a = b;
  b = c;
  EXPECT_EQ(4, list.chainLength());
  ZnDLListCursor& self = a;
  a = self;
  a.next();
  EXPECT_EQ(3, list.chainLength());
  EXPECT_EQ((Items{0, 2, 3}), contents(list));
}

TEST_F(ZnDoubleLinkedListTest, ReadCursorsLeaveDeletedHeadAndTailInPlace) {
  ZnDoubleLinkedList list;
  fill(list, 4);
  {
    ZnDLListReadCursor head(list);
    ZnDLListReadCursor middle(list);
    middle.goTo(1);
    ZnDLListReadCursor tail(list);
    tail.last();
    list.removeNode(head.node());
    list.removeNode(middle.node());
    list.removeNode(tail.node());
    EXPECT_EQ(1, list.count());
    EXPECT_EQ(item(2), head.next()->item);
    EXPECT_EQ(item(2), middle.next()->item);
    EXPECT_EQ(item(2), tail.prev()->item);
    EXPECT_EQ(3, list.chainLength());
  }
  EXPECT_EQ((Items{2}), walk<ZnDLListReadCursor>(list));
  EXPECT_EQ(3, list.chainLength());
  EXPECT_EQ(item(2), list[0]);
  EXPECT_EQ(list.nodeAt(0), list.lastLiveNode());
  std::ostringstream dump;
  dump << list;
  std::ostringstream expected;
  expected << "[\n   " << item(2) << "\n]";
  EXPECT_EQ(expected.str(), dump.str());

  // A changing cursor that steps over them frees them.
  ZnDLListCursor c(list);
  EXPECT_EQ(nullptr, c.prev());
  EXPECT_EQ(item(2), c.next()->item);
  EXPECT_EQ(2, list.chainLength());
  EXPECT_EQ(item(2), list.firstNode()->item);
  EXPECT_EQ(nullptr, c.next());
  EXPECT_EQ(1, list.chainLength());
  EXPECT_EQ(item(2), list.lastNode()->item);
}

TEST_F(ZnDoubleLinkedListTest, InsertingAroundTheCursor) {
  ZnDoubleLinkedList list;
  ZnDLListCursor c(list);
  c.insertAfter(item(1));   // no node: prepends
  c.insertBefore(item(2));  // no node: appends
  c.first();
  c.insertBefore(item(0));
  c.insertAfter(item(5));
  c.last();
  c.insertAfter(item(3));
  c.insertBefore(item(6));
  EXPECT_EQ((Items{0, 1, 5, 6, 2, 3}), contents(list));
  EXPECT_EQ(item(3), list.lastNode()->item);
  EXPECT_EQ(item(0), list.firstNode()->item);
}

TEST_F(ZnDoubleLinkedListTest, SwapAndAppendAll) {
  ZnDoubleLinkedList list;
  fill(list, 4);
  ZnDLListCursor a(list);
  ZnDLListCursor b(list);
  b.goTo(2);
  list.swap(a, b);
  EXPECT_EQ((Items{2, 1, 0, 3}), contents(list));
  list.swap(a, a);
  EXPECT_EQ((Items{2, 1, 0, 3}), contents(list));

  ZnDoubleLinkedList other;
  other.append(item(9));
  ZnDLListCursor elsewhere(other);
  list.swap(a, elsewhere);
  EXPECT_EQ(item(9), elsewhere.data());

  b.remove();
  list.swap(a, b);
  EXPECT_EQ((Items{2, 1, 3}), contents(list));

  other.appendAll(list);
  EXPECT_EQ((Items{9, 2, 1, 3}), contents(other));
  other.appendAll(other);
  EXPECT_EQ((Items{9, 2, 1, 3, 9, 2, 1, 3}), contents(other));
}

TEST_F(ZnDoubleLinkedListTest, MovesWithoutADefinedResultStaySafe) {
  ZnDoubleLinkedList list;
  fill(list, 2);
  ZnDLListCursor c(list);
  EXPECT_EQ(nullptr, c.prev());
  EXPECT_FALSE(c.atEnd());
  EXPECT_EQ(-1, c.index());
  EXPECT_EQ(nullptr, c.prev());
  EXPECT_EQ(item(0), c.next()->item);

  for (int index : {-1, 2, 7}) {
    c.goTo(index);
    EXPECT_TRUE(c.atEnd()) << index;
    EXPECT_EQ(2, c.index());
  }
  EXPECT_EQ(nullptr, c.next());
  EXPECT_TRUE(c.atEnd());
  EXPECT_EQ(nullptr, c.data());
  c.setData(item(5));
  EXPECT_EQ(nullptr, c.remove());
  EXPECT_EQ((Items{0, 1}), contents(list));

  testing::internal::CaptureStdout();
  EXPECT_EQ(nullptr, list[2]);
  EXPECT_EQ(nullptr, list[-3]);
  EXPECT_EQ(
      "ZnDoubleLinkedList::operator [] (int) : element 2 not found!\n"
      "ZnDoubleLinkedList::operator [] (int) : element -3 not found!\n",
      testing::internal::GetCapturedStdout());
}

TEST_F(ZnDoubleLinkedListTest, Dump) {
  ZnDoubleLinkedList list;
  std::ostringstream empty;
  empty << list;
  EXPECT_EQ("[\nEmpty\n]", empty.str());

  fill(list, 2);
  std::ostringstream two;
  two << list;
  std::ostringstream expected;
  expected << "[\n   " << item(0) << "\n   " << item(1) << "\n]";
  EXPECT_EQ(expected.str(), two.str());
}

TEST_F(ZnDoubleLinkedListTest, DataOnADeletedNodeAborts) {
  ZnDoubleLinkedList list;
  fill(list, 2);
  ZnDLListCursor c(list);
  c.remove();
  // The message goes to standard output; the death test watches stderr.
  EXPECT_DEATH(
      {
        dup2(STDERR_FILENO, STDOUT_FILENO);
        c.data();
      },
      "^Zn_DLListCursor::data\\(\\): retrieving data from deleted node\\.\n$");
}

}  // namespace
