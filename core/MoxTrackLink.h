// The link by which a machine keeps the containers (vectors, dictionaries)
// made while it works, so that tearing it down can find those that only
// reference cycles keep alive. A container made with no machine at work is
// not linked.
#ifndef MOX_TRACK_LINK_H
#define MOX_TRACK_LINK_H

class MoxTrackLink {
 public:
  MoxTrackLink() = default;
  // A copy is a new container: it is linked (or not) on its own.
  MoxTrackLink(const MoxTrackLink&) {}
  MoxTrackLink& operator=(const MoxTrackLink&) { return *this; }
  ~MoxTrackLink() { unlink(); }

  bool linked() const { return prev_ != nullptr; }
  // Joins the circular list behind head.
  void linkAfter(MoxTrackLink* head) {
    prev_ = head;
    next_ = head->next_;
    next_->prev_ = this;
    head->next_ = this;
  }
  void unlink() {
    if (!prev_) return;
    prev_->next_ = next_;
    next_->prev_ = prev_;
    prev_ = next_ = nullptr;
  }
  // For a list head: an empty circle.
  void makeHead() { prev_ = next_ = this; }
  MoxTrackLink* next() const { return next_; }

 private:
  MoxTrackLink* prev_ = nullptr;
  MoxTrackLink* next_ = nullptr;
};

#endif
