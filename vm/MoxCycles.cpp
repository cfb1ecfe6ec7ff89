// Finding and freeing the reference cycles a machine's values made.
//
// Reference counts alone never free a vector that holds itself, or two
// objects that hold each other. When a machine is torn down, every container
// it made is on its ledger's lists; the ones that only references from
// other such containers keep alive are garbage. The search is the classic
// trial deletion: from each container's count take away the references that
// come from the containers found; what still has references left is held
// from outside (a host's copy of a value) and stays, together with
// everything it reaches. The rest is emptied, which lets the counts free it.
#include <unordered_map>
#include <vector>

#include "core/MoxClass.h"
#include "core/MoxDictionary.h"
#include "core/MoxVector.h"
#include "vm/MoxMemory.h"

namespace {

// An object counts as one node together with member data made in its own
// block; member data in a block of its own is a vector node the object
// refers to.
enum NodeKind { kVectorNode, kDictionaryNode, kObjectNode };

// More references than the nodes can take away.
const int64_t kUncountedOwner = int64_t(1) << 40;

struct Node {
  MoxRefObject* obj;
  NodeKind kind;
  int64_t refs;  // the count, less the references found among the nodes
  bool live;
};

class CycleFinder {
 public:
  void addListed(MoxTrackLink* head, NodeKind kind) {
    for (MoxTrackLink* l = head->next(); l != head; l = l->next()) {
      if (kind == kVectorNode)
        nodeOfVector(static_cast<MoxVector*>(l));
      else
        nodeOf(static_cast<MoxDictionary*>(l), kDictionaryNode);
    }
  }

  // Takes the references among the nodes away from their counts. Nodes
  // found on the way (objects, containers made outside the machine) join
  // the list and are looked at in turn.
  void subtractInternal() {
    for (size_t i = 0; i < nodes_.size(); ++i)
      forEachChild(i, [this](size_t child) { --nodes_[child].refs; });
  }

  // Everything a node with references left reaches is alive.
  void markLive() {
    std::vector<size_t> work;
    for (size_t i = 0; i < nodes_.size(); ++i)
      if (nodes_[i].refs > 0) {
        nodes_[i].live = true;
        work.push_back(i);
      }
    while (!work.empty()) {
      const size_t i = work.back();
      work.pop_back();
      forEachChild(i, [this, &work](size_t child) {
        if (!nodes_[child].live) {
          nodes_[child].live = true;
          work.push_back(child);
        }
      });
    }
  }

  // Empties every node that is not alive. They are all held first, so
  // that none dies while another is being emptied; letting go afterwards
  // frees them.
  void freeGarbage() {
    std::vector<MoxRefObject*> held;
    for (const Node& n : nodes_)
      if (!n.live) {
        n.obj->addRef();
        held.push_back(n.obj);
      }
    for (const Node& n : nodes_)
      if (!n.live) empty(n);
    for (MoxRefObject* o : held) o->release();
  }

 private:
  size_t nodeOf(MoxRefObject* o, NodeKind kind) {
    auto found = index_.find(o);
    if (found != index_.end()) return found->second;
    index_.emplace(o, nodes_.size());
    // No count means an owner that does not count (a container on the
    // native stack, a member of a C++ object): never part of a cycle, and
    // alive for as long as that owner wants.
    const int64_t count = o->getRefCnt();
    nodes_.push_back(Node{o, kind, count > 0 ? count : kUncountedOwner, false});
    return nodes_.size() - 1;
  }

  size_t nodeOfVector(MoxVector* v) {
    if (v->isEmbedded()) return nodeOf(MoxObject::ownerOfEmbedded(v), kObjectNode);
    return nodeOf(v, kVectorNode);
  }

  // Calls f with the node of each counted reference value holds to a
  // container or an object.
  template <class F>
  void visitValue(const MoxValue& value, F f) {
    const MoxValueType kind = value.type();
    if (kind != MVT_VECTOR && kind != MVT_BYTECODE && kind != MVT_DICTIONARY && kind != MVT_OBJECT)
      return;
    MoxRefObject* ref = value.getRef();
    if (!ref || MoxRefObject::isDying(ref)) return;
    switch (kind) {
      case MVT_VECTOR:
      case MVT_BYTECODE: f(nodeOfVector(static_cast<MoxVector*>(ref))); break;
      case MVT_DICTIONARY: f(nodeOf(static_cast<MoxDictionary*>(ref), kDictionaryNode)); break;
      case MVT_OBJECT: f(nodeOf(static_cast<MoxObject*>(ref), kObjectNode)); break;
      default: break;
    }
  }

  template <class F>
  void visitElements(const MoxVector* v, F f) {
    for (unsigned int i = 0; i < v->size(); ++i) visitValue((*v)[i], f);
  }

  template <class F>
  void forEachChild(size_t i, F f) {
    MoxRefObject* o = nodes_[i].obj;
    switch (nodes_[i].kind) {
      case kVectorNode: visitElements(static_cast<MoxVector*>(o), f); break;
      case kDictionaryNode:
        for (MoxDictionaryEntry* e = static_cast<MoxDictionary*>(o)->getFirst(); e; e = e->getNext())
          visitValue(e->getValue(), f);
        break;
      case kObjectNode: {
        MoxVector* data = static_cast<MoxObject*>(o)->getMemberData();
        if (!data) break;
        if (data->isEmbedded())
          visitElements(data, f);
        else
          f(nodeOf(data, kVectorNode));  // the object holds one count on it
        break;
      }
    }
  }

  static void empty(const Node& n) {
    switch (n.kind) {
      case kVectorNode: static_cast<MoxVector*>(n.obj)->clear(); break;
      case kDictionaryNode: static_cast<MoxDictionary*>(n.obj)->clear(); break;
      case kObjectNode: {
        // Element 0 is the class; the members follow.
        MoxVector* data = static_cast<MoxObject*>(n.obj)->getMemberData();
        if (!data) break;
        for (unsigned int i = data->size(); i > 1; --i) (*data)[i - 1].dispose();
        break;
      }
    }
  }

  std::unordered_map<MoxRefObject*, size_t> index_;
  std::vector<Node> nodes_;
};

}  // namespace

void MoxMemoryLedger::collectCycles() {
  CycleFinder finder;
  finder.addListed(&vectors_, kVectorNode);
  finder.addListed(&dictionaries_, kDictionaryNode);
  finder.subtractInternal();
  finder.markLive();
  finder.freeGarbage();
}
