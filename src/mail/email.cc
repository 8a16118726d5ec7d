// Not yet available: every method fails with 445 until the class lands.
#include "mail/email.h"

#include "frame/failure.h"

namespace pellar {

Text Email::Clear() {
  throw Failure(error::kActionNotSupported);
}
Text Email::Body(const Text&) {
  throw Failure(error::kActionNotSupported);
}
Text Email::BodyFile(Text&) {
  throw Failure(error::kActionNotSupported);
}
Text Email::HTML(const Text&) {
  throw Failure(error::kActionNotSupported);
}
Text Email::HTMLFile(Text&) {
  throw Failure(error::kActionNotSupported);
}
Text Email::HTMLFilePreview(Text&) {
  throw Failure(error::kActionNotSupported);
}
Text Email::Attach(Text&) {
  throw Failure(error::kActionNotSupported);
}
Text Email::Edit(Text&, Text&) {
  throw Failure(error::kActionNotSupported);
}
Text Email::EditFile(Text&, Text&) {
  throw Failure(error::kActionNotSupported);
}
Text Email::SaveOutbox(const Text&, const Text&, const Text&, const Text&, const Text&, const Text&) {
  throw Failure(error::kActionNotSupported);
}
Text Email::SaveOutboxWithAttachments(const Text&, const Text&, const Text&, const Text&, const Text&, const Text&, int16_t) {
  throw Failure(error::kActionNotSupported);
}
Text Email::SetServerLogin(Text&, Text&) {
  throw Failure(error::kActionNotSupported);
}
Text Email::AddTag(Text&, Text&) {
  throw Failure(error::kActionNotSupported);
}
Text Email::Command(Text&, Text&) {
  throw Failure(error::kActionNotSupported);
}
Text Email::SendOutbox(Text&, Text&) {
  throw Failure(error::kActionNotSupported);
}

}  // namespace pellar
