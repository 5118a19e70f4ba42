// The one stack of levels a descent stands on, the same on both builds: each
// level holds what identifies it, its place in the text messages name it
// by, and the descent's search of its subdirectories, besides what each
// backend holds it by (a descriptor, or a full path). Internal to
// src/platform.
#pragma once

#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "common/names.h"
#include "platform/core/listing.h"
#include "platform/core/readahead.h"
#include "platform/platform.h"

// The descent's search of one level's subdirectories: opened when the
// descent first asks for one, closed once it finds no more, when a climb
// gives its level up, or with the level. Moved with its level, never copied.
class SubdirectorySearch {
 public:
  SubdirectorySearch() = default;
  SubdirectorySearch(SubdirectorySearch&& other) noexcept
      : rec_(std::move(other.rec_)), state_(other.state_) {
    other.rec_.handle = nullptr;
    other.state_ = State::Ended;
  }
  SubdirectorySearch& operator=(SubdirectorySearch&& other) noexcept {
    if (this != &other) {
      SearchClose(rec_);
      rec_ = std::move(other.rec_);
      state_ = other.state_;
      other.rec_.handle = nullptr;
      other.state_ = State::Ended;
    }
    return *this;
  }
  SubdirectorySearch(const SubdirectorySearch&) = delete;
  SubdirectorySearch& operator=(const SubdirectorySearch&) = delete;
  ~SubdirectorySearch() { SearchClose(rec_); }

  // Returns true with the name of the next subdirectory that the directory
  // read shows to be a plain one, as MayEnter tells; links, mount points,
  // hidden, read-only and dot directories are passed over without a word.
  // Only the names are read: whether one is entered is told by what it is
  // when it is entered.
  bool Next(std::string& name) {
    bool found = false;
    if (state_ == State::NotBegun) {
      state_ = State::Open;
      found = SearchFirst("*.*", kEveryEntry | kOnlyDirectories | kNamesOnly, rec_);
    } else if (state_ == State::Open) {
      found = SearchNext(rec_);
    }
    while (found && (rec_.name[0] == '.' || !MayEnter(rec_.attributes))) found = SearchNext(rec_);
    if (!found) End();
    else name = rec_.name;
    return found;
  }
  void End() {
    SearchClose(rec_);
    state_ = State::Ended;
  }
  // The next Next searches the directory from its start.
  void Restart() {
    End();
    state_ = State::NotBegun;
  }

 private:
  enum class State { NotBegun, Open, Ended };
  TSearchRec rec_;
  State state_ = State::NotBegun;
};

struct PlaceBase {
  std::string name;      // as entered from the level above
  DirectoryStamp stamp;  // as read when it was entered
  size_t textLength = 0;  // of its text, the start of Way::text
  SubdirectorySearch subdirectories;
  uint64_t askedIn = 0;  // the read-ahead group its listing was asked for in
  bool listed = false;   // its listing was read since it was entered
  uint64_t aheadGroup = 0;  // the group its subdirectories were asked for in
};

// What every backend's way down holds alike, whatever it holds its levels
// by, and what the calls answered from it (core/way.cpp) need of them.
struct WayBase {
  bool lost = false;  // a climb could not prove where the process stands
  // The text messages name where the process stands by: as the program
  // named it, and in a descent the top as CurrentDirectory reported it, each
  // level below it that text joined by the name entered.
  std::string text;
  bool named = false;
  // Where the run last put the process (or found it), as the system names
  // it: the top of a descent begins as this text. Kept, since the system
  // asked again may name it otherwise, or not at all.
  std::string topText;

  virtual size_t Depth() const = 0;
  virtual PlaceBase& Level(size_t i) = 0;
  virtual void ClearLevels() = 0;

  void Forget() {
    ClearLevels();
    lost = false;
  }
  // The process was moved to the directory messages name `as`.
  void MovedTo(std::string_view as) {
    Forget();
    text.assign(as);
    named = true;
  }
  // ... and the system names it `system`.
  void MovedTo(std::string_view as, std::string system) {
    MovedTo(as);
    topText = std::move(system);
  }
  const std::string& Text() {
    if (!named) MovedTo(CurrentDirectory());
    return text;
  }
  // The top is made anew unless it is all there is: the sweep before the
  // descent knew it, with the subdirectories its listing asked for.
  bool NeedsTop() const { return Depth() != 1 || lost; }
  // The descent begins at the top, named as the system names it, and
  // searches it from its start.
  void BeginAtTop() {
    text = CurrentDirectory();
    named = true;
    Level(0).textLength = text.size();
    Level(0).subdirectories.Restart();
  }
  bool NextSubdirectory(std::string& name) {
    return Depth() > 0 && Level(Depth() - 1).subdirectories.Next(name);
  }

 protected:
  ~WayBase() = default;
};

// Supplied by each backend: the directory the process stands in, nullptr
// where it is not known.
PlaceBase* CurrentPlace();
// Supplied by each backend: its one way down.
WayBase& TheWay();
// Supplied by each backend: forgets every level and makes the directory
// the process stands in the top.
void MakeTop();

// Forgets every level: the process was moved elsewhere, to the directory
// messages name `as` and the system names `system`.
void ForgetPlaces(std::string_view as, std::string system);
// Returns the directory the process was last put in, as the system named
// it then; "" before any.
const std::string& TopAsSystemNamesIt();

// The levels of a descent on either build, the process standing in the last.
template <typename Place>
struct Way final : WayBase {
  std::vector<Place> levels;

  size_t Depth() const override { return levels.size(); }
  PlaceBase& Level(size_t i) override { return levels[i]; }
  void ClearLevels() override {
    levels.clear();
    held.clear();
  }

  // The process stands in the top, the one level there is.
  void SetTop(Place&& top) {
    ClearLevels();
    held.insert(IdentityOf(top.stamp));
    levels.push_back(std::move(top));
  }
  void Push(Place&& level) {
    AppendToPath(text, level.name);
    level.textLength = text.size();
    held.insert(IdentityOf(level.stamp));
    levels.push_back(std::move(level));
  }
  // Drops the level last entered; what called it then stands in the one
  // above, which is given up with the rest of its subdirectories when the
  // climb did not come back to it.
  void Pop() {
    held.erase(held.find(IdentityOf(levels.back().stamp)));
    levels.pop_back();
    text.resize(levels.back().textLength);
  }
  Climb Climbed(Climb climb) {
    lost = climb != Climb::Back;
    if (lost) levels.back().subdirectories.End();
    return climb;
  }

  // Whether the directory below the last level, with these attributes and
  // this identity, may be entered, as read when it is opened: Entered where
  // MayEnter lets it; PassedOver where it does not; Refused where it is one
  // of the levels the descent stands in or below, which a name the system
  // reads as "." or "..", or a directory bound under itself, would lead back
  // to, and the descent would go round for ever.
  Entry Admits(uint32_t attributes, const DirectoryStamp& stamp) const {
    if (!MayEnter(attributes)) return Entry::PassedOver;
    return held.count(IdentityOf(stamp)) > 0 ? Entry::Refused : Entry::Entered;
  }

 private:
  // The identities of the levels, as SameDirectory compares them: looked
  // up once for each directory entered, where a look through the levels
  // made a chain of 100,000 levels cost seconds.
  using Identity = std::array<uint64_t, 3>;
  static Identity IdentityOf(const DirectoryStamp& stamp) {
    return {stamp.volume, stamp.index, stamp.mount};
  }
  std::multiset<Identity> held;
};
