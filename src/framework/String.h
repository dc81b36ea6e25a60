#ifndef RXMFILES_FRAMEWORK_STRING_H
#define RXMFILES_FRAMEWORK_STRING_H

#include "framework/Export.h"

/// A text: one heap copy of NUL-terminated 8-bit characters (none for the
/// empty text), handed to the C runtime and to the platform as it is.
class RXMFILES_API String {
 public:
  /// A null `characters` gives the empty string.
  String(const char* characters = nullptr);  // NOLINT(google-explicit-constructor)
  /// A copy of `other`'s characters.
  String(const String& other);
  /// Takes `other`'s characters; `other` is left empty.
  String(String&& other) noexcept;
  ~String();

  /// Returns a copy of the new value, as the framework always has.
  const String operator=(const String& other);  // NOLINT(misc-unconventional-assign-operator)
  /// Takes `other`'s characters (this object's are freed); `other` is left
  /// empty. Returns this object.
  String& operator=(String&& other) noexcept;

  /// The characters; never null ("" for an empty string).
  const char* GetText() const;
  /// The number of characters before the NUL.
  int GetLength() const;

 private:
  char* text;  // null for the empty text
};

/// Both texts in order.
RXMFILES_API String operator+(const String& left, const String& right);

#endif  // RXMFILES_FRAMEWORK_STRING_H
