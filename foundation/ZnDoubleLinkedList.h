// A doubly linked list of untyped element pointers, and cursors that walk it.
//
// The list never owns its elements: it stores and returns the pointers and
// frees only its own nodes. Cursors pin the node they stand on: each node
// counts the cursors on it, and removing an element under a cursor only marks
// the node deleted, so the cursor stays valid and can still step either way.
// The node is unlinked and freed when the last cursor leaves it. Every walk
// and every index skips deleted nodes; indexes count live elements from 0.
//
// ZnDLListCursor may change the list; ZnDLListReadCursor never writes the
// list's own fields, so a deleted node it leaves at the head or tail stays in
// the chain until a changing cursor walks over it or the list is destroyed.
// Cursors must not outlive their list. The list is not copyable.
//
// Nothing here reports through the message list. Two misuses print to
// standard output: operator[] with a missing index (returns null and goes on)
// and data() on a deleted node (aborts).
//
// Moves with no natural result are defined so that nothing is corrupted:
// next() past the end stays past the end; prev() on the first element moves
// to before the start, from where next() returns to the first element and
// prev() stays; goTo() with an index out of range goes past the end; data()
// without a node gives null, setData() and remove() without a node do
// nothing (remove() returns null), and index() without a node gives the
// count past the end and -1 before the start.
#ifndef HDRMEND_FOUNDATION_ZNDOUBLELINKEDLIST_H_
#define HDRMEND_FOUNDATION_ZNDOUBLELINKEDLIST_H_

#include <ostream>

// One element. Only the list and its cursors change these fields.
struct ZnDLListNode {
  explicit ZnDLListNode(void* element) : item(element) {}

  void* item;
  bool deleted = false;
  int refCount = 0;  // cursors standing on this node
  ZnDLListNode* next = nullptr;
  ZnDLListNode* prev = nullptr;
};

class Zn_DLListCursor;

class ZnDoubleLinkedList {
 public:
  ZnDoubleLinkedList() = default;
  // Frees every node, live or deleted; the elements are not touched.
  ~ZnDoubleLinkedList();

  ZnDoubleLinkedList(const ZnDoubleLinkedList&) = delete;
  ZnDoubleLinkedList& operator=(const ZnDoubleLinkedList&) = delete;

  // Number of live elements.
  int count() const { return count_; }

  // Each returns the new node.
  ZnDLListNode* append(void* item);
  ZnDLListNode* prepend(void* item);

  // Appends every live element of other in order; other may be this list, in
  // which case its elements are appended once.
  void appendAll(const ZnDoubleLinkedList& other);

  // Removes the element of node and returns it. A node under a cursor is
  // marked deleted and stays linked; any other node is freed at once. A node
  // already deleted holds no element: returns null and changes no count.
  void* removeNode(ZnDLListNode* node);

  // Removes the element at index and returns it, or null when there is none.
  void* removeAt(int index);

  // The element at index; a missing index prints a message to standard
  // output and gives null.
  void* operator[](int index) const;

  // Exchanges the elements under two cursors on this list when they stand on
  // different live nodes; otherwise does nothing.
  void swap(const Zn_DLListCursor& a, const Zn_DLListCursor& b);

  // The last live node, or null.
  ZnDLListNode* lastLiveNode() const;
  // The live node at index, or null.
  ZnDLListNode* nodeAt(int index) const;

  // Head and tail of the chain, deleted nodes included.
  ZnDLListNode* firstNode() const { return first_; }
  ZnDLListNode* lastNode() const { return last_; }
  // Number of nodes in the chain, deleted nodes included.
  int chainLength() const;

 private:
  friend class ZnDLListCursor;

  // Unlinks node, fixing the head and tail, and frees it.
  void unlinkAndFree(ZnDLListNode* node);
  // Links a new node between prev and next (either may be null).
  ZnDLListNode* insertBetween(ZnDLListNode* prev, ZnDLListNode* next, void* item);

  ZnDLListNode* first_ = nullptr;
  ZnDLListNode* last_ = nullptr;
  int count_ = 0;
};

// Debugging dump: "[", one indented line per live element pointer, "]".
std::ostream& operator<<(std::ostream& os, const ZnDoubleLinkedList& list);

// A position in a list: on a node (live, or deleted since the cursor
// arrived), past the end, or before the start.
class Zn_DLListCursor {
 public:
  virtual ~Zn_DLListCursor() = default;

  virtual const ZnDoubleLinkedList* list() const = 0;

  // Each move releases the node held and returns the new one (null when past
  // the end or before the start).
  ZnDLListNode* first();
  ZnDLListNode* last();
  ZnDLListNode* next();
  ZnDLListNode* prev();
  ZnDLListNode* goTo(int index);

  // Number of live nodes in front of the cursor's node.
  int index() const;

  // The element under the cursor. On a deleted node this prints a message to
  // standard output and aborts.
  void* data() const;
  void setData(void* item);

  ZnDLListNode* node() const { return node_; }
  bool atEnd() const { return atEnd_; }

  // Equal when both are past the end, or neither is and both stand on the
  // same node.
  bool operator==(const Zn_DLListCursor& other) const;
  bool operator!=(const Zn_DLListCursor& other) const { return !(*this == other); }

 protected:
  Zn_DLListCursor() = default;
  Zn_DLListCursor(const Zn_DLListCursor& other);
  Zn_DLListCursor& operator=(const Zn_DLListCursor&) = delete;

  // Unlinks and frees a deleted node that has lost its last cursor.
  virtual void disposeNode(ZnDLListNode* node) = 0;

  // Stands on node (taking a reference) or, for null, past the end.
  void placeOn(ZnDLListNode* node);
  // Drops the reference on the node held; the cursor is left without a node.
  void release();
  // Takes other's position; for the derived assignment operators.
  void assignPosition(const Zn_DLListCursor& other);

  ZnDLListNode* node_ = nullptr;
  bool atEnd_ = false;
};

// A cursor that may change the list.
class ZnDLListCursor : public Zn_DLListCursor {
 public:
  enum Start { AtFirst, PastEnd };

  explicit ZnDLListCursor(ZnDoubleLinkedList& list, Start start = AtFirst);
  ZnDLListCursor(const ZnDLListCursor& other);
  ZnDLListCursor& operator=(const ZnDLListCursor& other);
  ~ZnDLListCursor() override;

  ZnDoubleLinkedList* list() const override { return list_; }

  // Removes the element under the cursor and returns it; the node stays under
  // the cursor, marked deleted, until the cursor leaves it.
  void* remove();

  // Without a node insertAfter prepends and insertBefore appends. Each
  // returns the new node.
  ZnDLListNode* insertAfter(void* item);
  ZnDLListNode* insertBefore(void* item);

 protected:
  void disposeNode(ZnDLListNode* node) override;

 private:
  ZnDoubleLinkedList* list_;
};

// A cursor that only reads.
class ZnDLListReadCursor : public Zn_DLListCursor {
 public:
  enum Start { AtFirst, PastEnd };

  explicit ZnDLListReadCursor(const ZnDoubleLinkedList& list, Start start = AtFirst);
  ZnDLListReadCursor(const ZnDLListReadCursor& other);
  ZnDLListReadCursor& operator=(const ZnDLListReadCursor& other);
  ~ZnDLListReadCursor() override;

  const ZnDoubleLinkedList* list() const override { return list_; }

 protected:
  // Leaves a deleted head or tail node in place.
  void disposeNode(ZnDLListNode* node) override;

 private:
  const ZnDoubleLinkedList* list_;
};

#endif  // HDRMEND_FOUNDATION_ZNDOUBLELINKEDLIST_H_
