// The process-wide message list: how every library operation reports failure.
//
// A failing routine adds an error with ZnReportError() and returns its failure
// value; a caller that sees ZnMessages.errorPending() may add a more general
// error on top and fail in turn, so the newest message is the most general one.
// The top level calls ZnFlushMessages() after each step: it prints the pending
// messages as one block on std::cerr, empties the list and tells whether an
// error was pending. Nothing here throws; allocation failure surfaces as the
// standard std::bad_alloc. No locking anywhere: each thread has its own list.
#ifndef HDRMEND_FOUNDATION_ZNMESSAGE_H_
#define HDRMEND_FOUNDATION_ZNMESSAGE_H_

#include <cstdint>
#include <ostream>

#include "foundation/ZnStr.h"

#define ZN_PRINTF_FORMAT(fmt_index, first_arg) __attribute__((format(printf, fmt_index, first_arg)))

// One reported message and, through `next`, every older one: a message owns
// the chain behind it and destroying it destroys that chain.
class ZnMessage {
 public:
  enum Kind : uint8_t { Error = 0, Warning = 1 };

  ZnMessage();  // an Error with empty text and no older message
  // Takes ownership of `next`.
  ZnMessage(Kind kind, const ZnStr& text, ZnMessage* next);
  ZnMessage(const ZnMessage& other);  // copies the whole chain
  ZnMessage& operator=(const ZnMessage& other);
  ~ZnMessage();

  Kind kind() const { return kind_; }
  ZnStr text() const { return text_; }
  void setText(const ZnStr& text) { text_ = text; }
  ZnMessage* next() const { return next_; }

  // Writes the block for this message and every older one: two newlines,
  // "ERROR: " or "WARNING: " as this message's kind says, the texts wrapped at
  // 70 columns and indented under the first, one closing empty line. Flushes
  // after every line. Returns os.
  std::ostream& print(std::ostream& os) const;
  // Exactly the bytes print() writes.
  ZnStr toString() const;

 private:
  friend class ZnMessageList;
  // A copy of the chain that starts at `source`, or null.
  static ZnMessage* copyChain(const ZnMessage* source);

  Kind kind_;
  ZnStr text_;
  ZnMessage* next_;
};

// The owner of one chain of messages, newest first.
class ZnMessageList {
 public:
  constexpr ZnMessageList() : first_(nullptr) {}
  ZnMessageList(const ZnMessageList& other);  // deep copy
  ZnMessageList& operator=(const ZnMessageList& other);
  ~ZnMessageList() { clear(); }

  // The fmt forms format by printf rules into 1024 bytes: at most 1023
  // characters are kept. The ZnStr forms take any length.
  void addError(const char* fmt, ...) ZN_PRINTF_FORMAT(2, 3);
  void addWarning(const char* fmt, ...) ZN_PRINTF_FORMAT(2, 3);
  void addError(const ZnStr& text);
  void addWarning(const ZnStr& text);
  void add(ZnMessage::Kind kind, const ZnStr& text);

  // Put a formatted line before (after) the newest message's text, separated
  // by a newline. On an empty list there is nothing to extend; they do nothing.
  void prependLine(const char* fmt, ...) ZN_PRINTF_FORMAT(2, 3);
  void appendLine(const char* fmt, ...) ZN_PRINTF_FORMAT(2, 3);

  // True when the newest message is an error; an older error under a newer
  // warning does not count.
  bool errorPending() const { return first_ != nullptr && first_->kind() == ZnMessage::Error; }
  bool hasMessages() const { return first_ != nullptr; }
  ZnMessage* first() const { return first_; }
  void clear();
  // Frees the newest message, leaving the older ones pending; for a caller
  // that passes on only the first of messages that repeat.
  void removeNewest();
  // Frees the messages reported since `mark` was the newest (null: since the
  // list was empty), leaving what was pending before.
  void removeNewerThan(const ZnMessage* mark);

 private:
  ZnMessage* first_;
};

// The list of the running thread: the process-wide one for a program that
// runs single-threaded, as ours do, and one of its own for a helper thread
// (a pass split over the cores), so that what a helper reports never
// mixes with the main flow's messages. Empty at start; pending messages are
// freed without being printed at exit.
extern thread_local ZnMessageList ZnMessages;

void ZnReportError(const char* fmt, ...) ZN_PRINTF_FORMAT(1, 2);
void ZnReportError(const ZnStr& text);
void ZnReportWarning(const char* fmt, ...) ZN_PRINTF_FORMAT(1, 2);
void ZnReportWarning(const ZnStr& text);

// Prints the pending messages to std::cerr as one block and empties the list.
// Returns true when the newest message was an error. An empty list prints
// nothing and returns false.
bool ZnFlushMessages();
// When an error is pending, adds the formatted text as a further, more general
// error first; then ZnFlushMessages().
bool ZnFlushMessagesWithContext(const char* fmt, ...) ZN_PRINTF_FORMAT(1, 2);
// Frees every pending message without printing.
void ZnClearMessages();

// The cancel hook that long loops poll: a callback and its argument, both null
// at start. ZnCheckCancel() answers false without a callback; when the callback
// answers true it reports the error "Canceled." and answers true.
typedef bool (*ZnCancelCallback)(void* argument);
struct ZnCancelHookRecord {
  ZnCancelCallback callback;
  void* argument;
};
extern ZnCancelHookRecord ZnCancelHook;
// Installs a callback (null removes it) and returns the hook it replaces.
ZnCancelHookRecord ZnSetCancelHook(ZnCancelCallback callback, void* argument);
bool ZnCheckCancel();

#endif  // HDRMEND_FOUNDATION_ZNMESSAGE_H_
