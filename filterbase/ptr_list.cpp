#include "filterbase/ptr_list.h"

#include <new>

PtrList::PtrList() : first(nullptr), last(nullptr), count(0) {}

PtrList::~PtrList() { RemoveAll(); }

BOOL PtrList::AddTail(void *object) {
  Node *node = new (std::nothrow) Node{last, nullptr, object};
  if (node == nullptr) return FALSE;
  if (last != nullptr) {
    last->next = node;
  } else {
    first = node;
  }
  last = node;
  ++count;
  return TRUE;
}

PtrList::Node *PtrList::Find(const void *object) const {
  for (Node *node = first; node != nullptr; node = node->next) {
    if (node->object == object) return node;
  }
  return nullptr;
}

BOOL PtrList::AppendAll(const PtrList &other) {
  // Appending a list to itself would never reach the end.
  const int toAppend = other.count;
  Node *node = other.first;
  for (int i = 0; i < toAppend; ++i, node = node->next) {
    if (!AddTail(node->object)) return FALSE;
  }
  return TRUE;
}

void PtrList::RemoveAll() {
  Node *node = first;
  while (node != nullptr) {
    Node *next = node->next;
    delete node;
    node = next;
  }
  first = nullptr;
  last = nullptr;
  count = 0;
}
