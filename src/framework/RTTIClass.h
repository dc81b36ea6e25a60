#ifndef RXMFILES_FRAMEWORK_RTTICLASS_H
#define RXMFILES_FRAMEWORK_RTTICLASS_H

#include "framework/Export.h"
#include "framework/String.h"

/// The registry record of a class: constructing one makes the class known to
/// the framework under its name, destroying it takes the class out again.
/// Records are static objects of the libraries that define the classes.
class RXMFILES_API RTTIClass {
 public:
  /// Creates an object and returns it as the interface named by the argument
  /// (null: as the class itself); null when the class lacks the interface.
  using CreateFunction = void* (*)(const char* interfaceName);
  /// Whether the class implements the named interface.
  using ImplementsFunction = bool (*)(const char* interfaceName);

  /// Registers the class `className`, made by `createFunction` and
  /// implementing what `implementsFunction` answers, until the record is
  /// destroyed.
  RTTIClass(String className, CreateFunction createFunction, ImplementsFunction implementsFunction);
  ~RTTIClass();
  RTTIClass(const RTTIClass&) = delete;
  RTTIClass& operator=(const RTTIClass&) = delete;

  /// The class's name, as registered.
  const String& GetName() const;
  /// A new object of the class as the interface `interfaceName` (null: as
  /// the class itself), through the record's CreateFunction; null when the
  /// class lacks the interface.
  void* Create(const char* interfaceName) const;
  /// Whether the class implements the interface `interfaceName`, as the
  /// record's ImplementsFunction answers.
  bool ImplementsInterface(const char* interfaceName) const;

  /// The record registered under exactly (case-sensitively) `className`, or
  /// null. With several records of one name, the first one registered.
  static const RTTIClass* Find(const char* className);
  /// The registered records, in the order they were constructed.
  static int GetCount();
  /// Null for an index outside 0 to GetCount() - 1.
  static const RTTIClass* GetAt(int index);

 private:
  String name;
  CreateFunction create;
  ImplementsFunction implements;
};

#endif  // RXMFILES_FRAMEWORK_RTTICLASS_H
