#include "foundation/ZnDoubleLinkedList.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

ZnDoubleLinkedList::~ZnDoubleLinkedList() {
  ZnDLListNode* node = first_;
  while (node != nullptr) {
    ZnDLListNode* next = node->next;
    delete node;
    node = next;
  }
}

ZnDLListNode* ZnDoubleLinkedList::insertBetween(ZnDLListNode* prev, ZnDLListNode* next,
                                                void* item) {
  ZnDLListNode* node = new ZnDLListNode(item);
  node->prev = prev;
  node->next = next;
  if (prev != nullptr) {
    prev->next = node;
  } else {
    first_ = node;
  }
  if (next != nullptr) {
    next->prev = node;
  } else {
    last_ = node;
  }
  ++count_;
  return node;
}

ZnDLListNode* ZnDoubleLinkedList::append(void* item) { return insertBetween(last_, nullptr, item); }

ZnDLListNode* ZnDoubleLinkedList::prepend(void* item) {
  return insertBetween(nullptr, first_, item);
}

void ZnDoubleLinkedList::appendAll(const ZnDoubleLinkedList& other) {
  // Counting first keeps appending a list to itself from chasing its own
  // new tail. The read cursor pins the node being copied.
  int n = other.count();
  ZnDLListReadCursor cursor(other);
  for (int i = 0; i < n && cursor.node() != nullptr; ++i, cursor.next()) append(cursor.data());
}

void ZnDoubleLinkedList::unlinkAndFree(ZnDLListNode* node) {
  if (node->prev != nullptr) {
    node->prev->next = node->next;
  } else {
    first_ = node->next;
  }
  if (node->next != nullptr) {
    node->next->prev = node->prev;
  } else {
    last_ = node->prev;
  }
  delete node;
}

void* ZnDoubleLinkedList::removeNode(ZnDLListNode* node) {
  if (node == nullptr) return nullptr;
  if (node->deleted) {
    // Its element was removed before; it only waits to be freed.
    if (node->refCount == 0) unlinkAndFree(node);
    return nullptr;
  }
  void* item = node->item;
  --count_;
  if (node->refCount > 0) {
    node->deleted = true;
  } else {
    unlinkAndFree(node);
  }
  return item;
}

void* ZnDoubleLinkedList::removeAt(int index) {
  // The node is freed when the cursor goes out of scope.
  ZnDLListCursor cursor(*this);
  cursor.goTo(index);
  return cursor.remove();
}

void* ZnDoubleLinkedList::operator[](int index) const {
  ZnDLListNode* node = nodeAt(index);
  if (node == nullptr) {
    printf("ZnDoubleLinkedList::operator [] (int) : element %d not found!\n", index);
    return nullptr;
  }
  return node->item;
}

void ZnDoubleLinkedList::swap(const Zn_DLListCursor& a, const Zn_DLListCursor& b) {
  if (a.list() != this || b.list() != this) return;
  ZnDLListNode* na = a.node();
  ZnDLListNode* nb = b.node();
  // A deleted node's element has been handed out already; swapping into it
  // would lose the other element.
  if (na == nullptr || nb == nullptr || na == nb || na->deleted || nb->deleted) return;
  std::swap(na->item, nb->item);
}

ZnDLListNode* ZnDoubleLinkedList::lastLiveNode() const {
  ZnDLListNode* node = last_;
  while (node != nullptr && node->deleted) node = node->prev;
  return node;
}

ZnDLListNode* ZnDoubleLinkedList::nodeAt(int index) const {
  if (index < 0) return nullptr;
  for (ZnDLListNode* node = first_; node != nullptr; node = node->next) {
    if (node->deleted) continue;
    if (index-- == 0) return node;
  }
  return nullptr;
}

int ZnDoubleLinkedList::chainLength() const {
  int n = 0;
  for (ZnDLListNode* node = first_; node != nullptr; node = node->next) ++n;
  return n;
}

std::ostream& operator<<(std::ostream& os, const ZnDoubleLinkedList& list) {
  os << "[" << std::endl;
  if (list.count() == 0) {
    os << "Empty" << std::endl;
  } else {
    for (ZnDLListNode* node = list.firstNode(); node != nullptr; node = node->next) {
      if (!node->deleted) os << "   " << node->item << std::endl;
    }
  }
  return os << "]";
}

Zn_DLListCursor::Zn_DLListCursor(const Zn_DLListCursor& other)
    : node_(other.node_), atEnd_(other.atEnd_) {
  if (node_ != nullptr) ++node_->refCount;
}

void Zn_DLListCursor::placeOn(ZnDLListNode* node) {
  node_ = node;
  if (node != nullptr) ++node->refCount;
  atEnd_ = node == nullptr;
}

void Zn_DLListCursor::release() {
  ZnDLListNode* node = node_;
  node_ = nullptr;
  if (node != nullptr && --node->refCount == 0 && node->deleted) disposeNode(node);
}

void Zn_DLListCursor::assignPosition(const Zn_DLListCursor& other) {
  // Referencing first makes assigning a cursor on the same node safe.
  ZnDLListNode* node = other.node_;
  if (node != nullptr) ++node->refCount;
  release();
  node_ = node;
  atEnd_ = other.atEnd_;
}

ZnDLListNode* Zn_DLListCursor::first() {
  release();
  placeOn(list()->nodeAt(0));
  return node_;
}

ZnDLListNode* Zn_DLListCursor::last() {
  release();
  placeOn(list()->lastLiveNode());
  return node_;
}

ZnDLListNode* Zn_DLListCursor::goTo(int index) {
  release();
  placeOn(list()->nodeAt(index));
  return node_;
}

ZnDLListNode* Zn_DLListCursor::next() {
  // Past the end is final: restarting would turn a careless loop into an
  // endless one.
  if (atEnd_) return nullptr;
  ZnDLListNode* node;
  if (node_ != nullptr) {
    node = node_->next;
    release();
  } else {
    node = list()->firstNode();
  }
  // Deleted nodes are stepped onto and off again, so that one nobody else
  // holds is disposed of on the way.
  while (node != nullptr) {
    node_ = node;
    ++node->refCount;
    if (!node->deleted) return node;
    node = node->next;
    release();
  }
  atEnd_ = true;
  return nullptr;
}

ZnDLListNode* Zn_DLListCursor::prev() {
  ZnDLListNode* target;
  if (atEnd_) {
    target = list()->lastLiveNode();
  } else if (node_ == nullptr) {
    return nullptr;
  } else {
    target = node_->prev;
    while (target != nullptr && target->deleted) target = target->prev;
  }
  if (target != nullptr) ++target->refCount;
  release();
  node_ = target;
  atEnd_ = false;
  return target;
}

int Zn_DLListCursor::index() const {
  if (node_ == nullptr) return atEnd_ ? list()->count() : -1;
  int n = 0;
  for (ZnDLListNode* node = list()->firstNode(); node != nullptr && node != node_;
       node = node->next) {
    if (!node->deleted) ++n;
  }
  return n;
}

void* Zn_DLListCursor::data() const {
  if (node_ == nullptr) return nullptr;
  if (node_->deleted) {
    fputs("Zn_DLListCursor::data(): retrieving data from deleted node.\n", stdout);
    fflush(stdout);
    abort();
  }
  return node_->item;
}

void Zn_DLListCursor::setData(void* item) {
  if (node_ != nullptr) node_->item = item;
}

bool Zn_DLListCursor::operator==(const Zn_DLListCursor& other) const {
  if (atEnd_ || other.atEnd_) return atEnd_ && other.atEnd_;
  return node_ == other.node_;
}

ZnDLListCursor::ZnDLListCursor(ZnDoubleLinkedList& list, Start start) : list_(&list) {
  placeOn(start == AtFirst ? list.nodeAt(0) : nullptr);
}

ZnDLListCursor::ZnDLListCursor(const ZnDLListCursor& other)
    : Zn_DLListCursor(other), list_(other.list_) {}

ZnDLListCursor& ZnDLListCursor::operator=(const ZnDLListCursor& other) {
  if (this != &other) {
    // The old node is released through the old list.
    assignPosition(other);
    list_ = other.list_;
  }
  return *this;
}

ZnDLListCursor::~ZnDLListCursor() { release(); }

void* ZnDLListCursor::remove() {
  if (node_ == nullptr) return nullptr;
  void* item = data();
  node_->deleted = true;
  --list_->count_;
  return item;
}

ZnDLListNode* ZnDLListCursor::insertAfter(void* item) {
  if (node_ == nullptr) return list_->prepend(item);
  return list_->insertBetween(node_, node_->next, item);
}

ZnDLListNode* ZnDLListCursor::insertBefore(void* item) {
  if (node_ == nullptr) return list_->append(item);
  return list_->insertBetween(node_->prev, node_, item);
}

void ZnDLListCursor::disposeNode(ZnDLListNode* node) { list_->unlinkAndFree(node); }

ZnDLListReadCursor::ZnDLListReadCursor(const ZnDoubleLinkedList& list, Start start) : list_(&list) {
  placeOn(start == AtFirst ? list.nodeAt(0) : nullptr);
}

ZnDLListReadCursor::ZnDLListReadCursor(const ZnDLListReadCursor& other)
    : Zn_DLListCursor(other), list_(other.list_) {}

ZnDLListReadCursor& ZnDLListReadCursor::operator=(const ZnDLListReadCursor& other) {
  if (this != &other) {
    assignPosition(other);
    list_ = other.list_;
  }
  return *this;
}

ZnDLListReadCursor::~ZnDLListReadCursor() { release(); }

void ZnDLListReadCursor::disposeNode(ZnDLListNode* node) {
  // The head and tail fields belong to the list, which this cursor only
  // reads; such a node waits for a changing operation or the list's end.
  if (node == list_->firstNode() || node == list_->lastNode()) return;
  node->prev->next = node->next;
  node->next->prev = node->prev;
  delete node;
}
