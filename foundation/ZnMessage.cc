#include "foundation/ZnMessage.h"

#include <cstdarg>
#include <iostream>
#include <string>

#include "foundation/ZnStrFunctions.h"
#include "foundation/ZnWordWrap.h"
#include "foundation/ZnSStream.h"

thread_local ZnMessageList ZnMessages;
ZnCancelHookRecord ZnCancelHook = {nullptr, nullptr};

namespace {

const int kWrapWidth = 70;
const int kTabWidth = 8;

// Formats into the fixed buffer that bounds every formatted message.
ZnStr FormatText(const char* fmt, va_list args) {
  char buffer[1024];
  ZnVSNPrintf(buffer, sizeof buffer, fmt, args);
  return ZnStr(buffer);
}

// The text wrapped, with every line after the first indented.
ZnStr LayOut(const ZnStr& text, const char* indentation) {
  ZnStr wrapped = ZnWordWrap(text, kWrapWidth, kTabWidth);
  std::string laidOut;
  const char* s = wrapped.c_str();
  for (int i = 0, n = wrapped.length(); i < n; ++i) {
    laidOut += s[i];
    if (s[i] == '\n') laidOut += indentation;
  }
  return ZnStr(laidOut.data(), static_cast<int>(laidOut.size()));
}

}  // namespace

ZnMessage::ZnMessage() : kind_(Error), text_(""), next_(nullptr) {}

ZnMessage::ZnMessage(Kind kind, const ZnStr& text, ZnMessage* next)
    : kind_(kind), text_(text), next_(next) {}

ZnMessage::ZnMessage(const ZnMessage& other)
    : kind_(other.kind_), text_(other.text_), next_(copyChain(other.next_)) {}

ZnMessage& ZnMessage::operator=(const ZnMessage& other) {
  if (this == &other) return *this;
  ZnMessage* copy = copyChain(other.next_);
  delete next_;
  next_ = copy;
  kind_ = other.kind_;
  text_ = other.text_;
  return *this;
}

ZnMessage::~ZnMessage() {
  // Unlink the older messages one by one so that a long chain cannot exhaust
  // the stack through recursive destruction.
  while (next_ != nullptr) {
    ZnMessage* older = next_;
    next_ = older->next_;
    older->next_ = nullptr;
    delete older;
  }
}

ZnMessage* ZnMessage::copyChain(const ZnMessage* source) {
  ZnMessage* head = nullptr;
  ZnMessage** tail = &head;
  try {
    for (; source != nullptr; source = source->next_) {
      *tail = new ZnMessage(source->kind_, source->text_, nullptr);
      tail = &(*tail)->next_;
    }
  } catch (...) {
    delete head;
    throw;
  }
  return head;
}

std::ostream& ZnMessage::print(std::ostream& os) const {
  const bool error = kind_ == Error;
  const char* prefix = error ? "ERROR: " : "WARNING: ";
  const char* indentation = error ? "       " : "         ";
  os << std::endl << std::endl << prefix << LayOut(text_, indentation) << std::endl;
  for (const ZnMessage* older = next_; older != nullptr; older = older->next_) {
    os << indentation << LayOut(older->text_, indentation) << std::endl;
  }
  os << std::endl;
  os.flush();
  return os;
}

ZnStr ZnMessage::toString() const {
  ZnOSStream os;
  print(os);
  return ZnStr(os.str());
}

ZnMessageList::ZnMessageList(const ZnMessageList& other)
    : first_(ZnMessage::copyChain(other.first_)) {}

ZnMessageList& ZnMessageList::operator=(const ZnMessageList& other) {
  if (this == &other) return *this;
  clear();
  first_ = ZnMessage::copyChain(other.first_);
  return *this;
}

void ZnMessageList::add(ZnMessage::Kind kind, const ZnStr& text) {
  // A null text is kept as empty text so that every message can be printed.
  first_ = new ZnMessage(kind, text.isNull() ? ZnStr("") : text, first_);
}

void ZnMessageList::addError(const ZnStr& text) { add(ZnMessage::Error, text); }

void ZnMessageList::addWarning(const ZnStr& text) { add(ZnMessage::Warning, text); }

void ZnMessageList::addError(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  ZnStr text = FormatText(fmt, args);
  va_end(args);
  add(ZnMessage::Error, text);
}

void ZnMessageList::addWarning(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  ZnStr text = FormatText(fmt, args);
  va_end(args);
  add(ZnMessage::Warning, text);
}

void ZnMessageList::prependLine(const char* fmt, ...) {
  if (first_ == nullptr) return;
  va_list args;
  va_start(args, fmt);
  ZnStr line = FormatText(fmt, args);
  va_end(args);
  line.append("\n");
  line.append(first_->text_.c_str());
  first_->text_ = line;
}

void ZnMessageList::appendLine(const char* fmt, ...) {
  if (first_ == nullptr) return;
  va_list args;
  va_start(args, fmt);
  ZnStr line = FormatText(fmt, args);
  va_end(args);
  ZnStr text = first_->text_;
  text.append("\n");
  text.append(line.c_str());
  first_->text_ = text;
}

void ZnMessageList::clear() {
  delete first_;
  first_ = nullptr;
}

void ZnMessageList::removeNewerThan(const ZnMessage* mark) {
  while (first_ != nullptr && first_ != mark) removeNewest();
}

void ZnMessageList::removeNewest() {
  ZnMessage* newest = first_;
  if (newest == nullptr) return;
  first_ = newest->next_;
  newest->next_ = nullptr;
  delete newest;
}

void ZnReportError(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  ZnStr text = FormatText(fmt, args);
  va_end(args);
  ZnMessages.addError(text);
}

void ZnReportError(const ZnStr& text) { ZnMessages.addError(text); }

void ZnReportWarning(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  ZnStr text = FormatText(fmt, args);
  va_end(args);
  ZnMessages.addWarning(text);
}

void ZnReportWarning(const ZnStr& text) { ZnMessages.addWarning(text); }

bool ZnFlushMessages() {
  ZnMessage* newest = ZnMessages.first();
  if (newest == nullptr) return false;
  const bool error = newest->kind() == ZnMessage::Error;
  newest->print(std::cerr);
  ZnMessages.clear();
  return error;
}

bool ZnFlushMessagesWithContext(const char* fmt, ...) {
  if (ZnMessages.errorPending()) {
    va_list args;
    va_start(args, fmt);
    ZnStr text = FormatText(fmt, args);
    va_end(args);
    ZnMessages.addError(text);
  }
  return ZnFlushMessages();
}

void ZnClearMessages() { ZnMessages.clear(); }

ZnCancelHookRecord ZnSetCancelHook(ZnCancelCallback callback, void* argument) {
  ZnCancelHookRecord previous = ZnCancelHook;
  ZnCancelHook.callback = callback;
  ZnCancelHook.argument = argument;
  return previous;
}

bool ZnCheckCancel() {
  if (ZnCancelHook.callback == nullptr) return false;
  if (!ZnCancelHook.callback(ZnCancelHook.argument)) return false;
  ZnReportError("Canceled.");
  return true;
}
