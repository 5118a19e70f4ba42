// The file-system and process services kelvo needs from the system; its
// console's are in platform/console.h, included here. One header, two
// implementations: platform-win32 (kernel32) and
// platform-posix (the same results on Linux). Names are byte strings as the
// system gives them; relative names are relative to the current directory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/match.h"
#include "platform/console.h"

// Windows attribute bits; the POSIX layer reports the same bits.
constexpr uint32_t kAttrReadOnly = 0x01;
constexpr uint32_t kAttrHidden = 0x02;
constexpr uint32_t kAttrSystem = 0x04;
constexpr uint32_t kAttrVolume = 0x08;
constexpr uint32_t kAttrDirectory = 0x10;  // FILE_ATTRIBUTE_DIRECTORY
constexpr uint32_t kAttrArchive = 0x20;
constexpr uint32_t kAttrReparsePoint = 0x400;

// Attribute sets the program searches with: plain and read-only files only,
// and every entry.
constexpr uint32_t kFilesOnly = 0x20;
constexpr uint32_t kEveryEntry = 0x3F;
// Added to a set, passes over every entry without the directory bit as well,
// so a search for subdirectories need not look at each file.
constexpr uint32_t kOnlyDirectories = 0x10000;
// Added to a set, says that only the names found are used: a directory's
// attributes, too, may be left unread where the directory read alone shows
// that it passes. A file's always are.
constexpr uint32_t kNamesOnly = 0x20000;

// The attribute filter of the searches: an entry with a hidden, system,
// volume or directory bit that `attrSet` lacks is passed over, and with
// kOnlyDirectories one without the directory bit too.
inline bool PassesFilter(uint32_t attributes, uint32_t attrSet) {
  if ((attrSet & kOnlyDirectories) && !(attributes & kAttrDirectory)) return false;
  return (attributes & 0x1E & ~attrSet) == 0;
}

struct SearchState;  // the platform's open search

// One directory-search result. For a file, `size` and the read-only bit are
// what the directory read showed, which on POSIX is nothing: RemoveFile reads
// them. `size` is the full 64-bit size.
struct TSearchRec {
  // The entry's own name, not a copy: good while the search is open and its
  // directory's listing kept (until the current directory changes).
  std::string_view name;
  int64_t size = 0;
  uint32_t attributes = 0;
  SearchState* handle = nullptr;
};

// Called once from main before anything else.
void StartPlatform(int argc, char** argv);

// --- File system ---------------------------------------------------------

// Full path of the running program file.
std::string ProgramPath();

// Reads the listing every search of the current directory is answered from.
// Returns false when it could not be read whole (it could not be opened, a
// read failed part-way, no descriptor was left): its searches then find
// nothing, so nothing in it is deleted.
bool ListCurrentDirectory();

// Finds the entries whose long name matches `pattern` (MatchPattern) and
// whose attributes pass the filter: an entry with a hidden, system, volume or
// directory bit that `attrSet` lacks is passed over (and, with
// kOnlyDirectories, one without the directory bit). The pattern may carry a
// directory part. Call SearchClose once after every SearchFirst.
bool SearchFirst(std::string_view pattern, uint32_t attrSet, TSearchRec& rec);
bool SearchNext(TSearchRec& rec);
void SearchClose(TSearchRec& rec);
struct Listing;  // the platform's read of a directory

// The entries of the current directory whose base name (the name less its
// extension) equals `base` without regard to case, looked up once for every
// word a rule appends to it. MayName(word) is false only where a search for
// the name base + word can find no entry.
struct DerivedWord;
class EntriesOfBase {
 public:
  explicit EntriesOfBase(std::string_view base);
  bool MayName(const DerivedWord& word) const;
  // True where the base holds no byte a pattern or a path gives meaning to.
  bool PlainBase() const { return listing_ != nullptr; }

 private:
  // The current directory's, kept while the directory is: null, any word may
  // name an entry.
  const Listing* listing_ = nullptr;
  int32_t first_ = -1;                // the first of those entries, -1: none
  bool dotless_ = false;              // base has no dot, nor ends in what a name drops
};

// A word a rule appends to base names, looked at once for all the rule's
// sources; `text` stays the caller's.
struct DerivedWord {
  std::string_view text;
  uint8_t kind = 0;   // what of the entries beside a base can tell it
  uint32_t hash = 0;  // of the extension it is, where it is one
};
// Returns `word` as EntriesOfBase::MayName looks at it.
DerivedWord PrepareDerivedWord(std::string_view word);

// True when an entry of the current directory not deleted has the extension
// `extension` (".EXT": one dot, no wildcard), compared as names are: what a
// search for "*.EXT" of every entry's name would find, told by the listing's
// index without a search.
bool AnyEntryOfExtension(std::string_view extension);

// Says which searches of the current directory come next, with `attrSet`:
// their matches are then found in one walk of its listing, not one walk
// each. Each search still finds exactly what it would find without it.
void SearchesAhead(const std::vector<std::string_view>& patterns, uint32_t attrSet);

// True where names equal but for case are files of their own (POSIX): a
// file found by a literal name is then announced and deleted by the name
// of the entry found. On Windows both spell the same file, and the name as
// the program built it is kept.
#if defined(KELVO_WIN32)
inline constexpr bool kCaseTellsFilesApart = false;
#else
inline constexpr bool kCaseTellsFilesApart = true;
#endif

// Names compared as the file system compares them: without regard to letter
// case (a-z on POSIX; every letter the system folds on Windows). The hash
// agrees with the comparison.
bool SameNameIgnoringCase(std::string_view a, std::string_view b);
uint32_t HashIgnoringCase(std::string_view name);

// Names come in UTF-8: always on POSIX; on Windows where the process code
// page is UTF-8 (the manifest honoured). Otherwise in the ANSI code page.
bool NamesAreUtf8();

// How this system's names compare, for the matcher: their code page and
// SameNameIgnoringCase.
NameRules NamesRules();

// A line of a companion file in the code page of the names: as it is, unless
// names come in UTF-8 on Windows and the line is no UTF-8 text, which is then
// read in the system's ANSI code page. `cut`: the line was cut short, so a
// sequence broken at its end does not count against it.
std::string CompanionTextAsNames(std::string_view line, bool cut);

// A companion file's UTF-16 text (code units in the host's order) in the code
// page of the names. A lone surrogate becomes U+FFFD; a character the ANSI
// code page lacks becomes "|", which no Windows name holds, never a
// look-alike or a wildcard that could match another file.
std::string Utf16AsNames(std::u16string_view text);

// Deletes one file named literally, holding the stop gate only for the
// deletion itself; fails for a read-only file and for
// anything that is not a file or a link. "*" and "?" are no wildcards here:
// Windows refuses a name holding them, POSIX takes them as characters.
// `size`: the file's size, read just before it is deleted (0 for a link).
bool RemoveFile(std::string_view name, int64_t& size);

// Deletions in flight together. Returns true where they may be: round trips
// are slow here (a share), as for the read-ahead. The sweep overlaps them
// only where no question waits between them.
bool OverlapsRemovals();

// Deletes one file as RemoveFile does, or, where removals overlap and the
// file lies in the current directory, issues its deletion to the workers
// after the same checks, the file's status read for it. Returns Removed,
// with `size`, when it was deleted now; Issued, with `size`, when its
// deletion is in flight (its result comes from NextRemovalDone); Failed when
// it fails now, where a sequential run tells it. On Windows every deletion
// issued before it has finished by then, so that it is told after their
// failures; on Linux, where waiting for them would stop the overlap, they
// go on, and a failure of theirs is told as it comes.
// A directory that refused a deletion has no more issued: each of its files
// is then deleted, or fails, in its turn.
enum class Removal { Removed, Issued, Failed };
Removal IssueRemoval(std::string_view name, int64_t& size);

// Returns once one more deletion may be issued, at once where none is in
// flight: a file announced after it is issued without waiting, so that a
// kill leaves no more files announced and not begun than may be in flight.
void AwaitRoomForRemoval();

// A deletion issued that has finished: the path messages name it by (its
// name joined to PlaceText as it was issued), whether the file was deleted,
// and its size.
struct RemovalDone {
  std::string name;
  bool removed = false;
  int64_t size = 0;
};
// Returns true with a deletion issued that has finished and was not given
// back yet, the earliest issued first; with `wait`, waits for one while any
// is in flight. False when there is none.
bool NextRemovalDone(bool wait, RemovalDone& done);

// Lets the deletions in flight finish and starts no other: for the break
// handler, and for a run that ends because its output failed. Safe inside
// the break handler.
void SettleRemovals();

// Enters a directory; CurrentDirectory reports where the process stands
// (a drive root ends in the separator, other directories do not). A descent
// names the directories it stands in itself and does not ask.
bool ChangeDirectory(std::string_view path);
std::string CurrentDirectory();

// The text messages name the directory the process stands in by: the path
// ChangeDirectory was last given (CurrentDirectory before any), and in a
// descent the top as CurrentDirectory reports it, joined by each name the
// descent entered below it.
const std::string& PlaceText();

// The way a descent goes down, held level by level by what identifies each
// directory, so that it climbs back to exactly the directory it came from,
// wherever that now lies, and never by a name that may lead elsewhere.
// BeginDescent takes the current directory as the top; the levels are let
// go when the process is moved elsewhere by ChangeDirectory, or ends.
void BeginDescent();

// Returns true with the name of the next subdirectory of the directory the
// process stands in that a descent tries to enter: one the directory read
// shows to be plain, in the order of the searches. False once there is none
// left, or the descent gave this level up.
bool NextSubdirectory(std::string& name);

// Enters subdirectory `name` of the current directory where a descent may
// enter it, as MayEnter tells of what it is when it is opened: never through
// a link, never onto another mount, never one made read-only since it was
// listed. Returns Entered; PassedOver when it is gone or is no plain
// directory (nothing to say of it); Refused when it cannot be entered or its
// status cannot be read.
enum class Entry { Entered, PassedOver, Refused };
Entry EnterSubdirectory(std::string_view name);

// Climbs back from the directory last entered to the one it was entered
// from. Gone: that directory is there no more by its name; Unproven: what is
// there cannot be reached or proven to be it. Either way the process stands
// in no known directory and that level is given up too: the next call
// climbs on to the level above it. AtTop: the descent entered nothing it
// has not left.
enum class Climb { Back, Gone, Unproven, AtTop };
Climb LeaveSubdirectory();

// From now on a directory listed also has its subdirectories listed ahead,
// for the descent that will enter them, where round trips are slow.
void ListSubdirectoriesAhead();

// The files a sweep of the current directory is about to delete, in order,
// with no key to wait for in between. Where round trips are slow (POSIX on a
// share) their status is read ahead, so each deletion waits for one request.
bool ReadsFilesAhead();
void WillRemove(const std::vector<std::string>& names);

// Returns to an absolute directory without allocating memory: safe inside
// the break handler.
bool ReturnToDirectory(const char* path);

// Free bytes on drive `drive` (0: the current one, 1: A:, ...), -1 on failure.
int64_t FreeDiskBytes(uint8_t drive);

// Where the user's and then the system's configuration lies, each ending in
// the separator: on POSIX $XDG_CONFIG_HOME (else ~/.config) and each
// directory of $XDG_CONFIG_DIRS (else /etc/xdg), relative ones left out;
// none on Windows, where configuration lies beside the program.
std::vector<std::string> ConfigDirectories();

// Companion files: opened read-only, only when they are regular files.
struct ReadFileState;
ReadFileState* OpenReadOnly(std::string_view path);
// Reads up to `capacity` bytes; false on a read error, `got` 0 at the end.
bool ReadBytes(ReadFileState* file, char* buffer, size_t capacity, size_t& got);
void CloseReadOnly(ReadFileState* file);
