// A doubly-linked list of untyped object pointers. It never owns the objects;
// it only allocates and frees its own nodes.
#pragma once

#include "platform/win32/types.h"

class PtrList {
 public:
  struct Node {
    Node *previous;
    Node *next;
    void *object;
  };

  PtrList();
  ~PtrList();  // removes all nodes

  PtrList(const PtrList &) = delete;
  PtrList &operator=(const PtrList &) = delete;

  // Appends at the tail. FALSE when the node cannot be allocated (the list is
  // then unchanged).
  BOOL AddTail(void *object);
  // The first node holding `object` (pointer equality, searched from the head),
  // or null.
  Node *Find(const void *object) const;
  // The head node for a walk along Node::next; null when empty.
  Node *Head() const { return first; }
  // Appends every object of `other` in order. Stops at the first failed add
  // and returns FALSE; the objects added before it stay.
  BOOL AppendAll(const PtrList &other);
  // Frees every node; the list is empty afterwards.
  void RemoveAll();
  int Count() const { return count; }

 private:
  Node *first;
  Node *last;
  int count;
};
