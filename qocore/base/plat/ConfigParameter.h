#pragma once
// Typed configuration parameters.
//
// Every tunable setting is a named parameter, declared once as a static
// object by the component that reads it and registered in a
// plat::Configuration (the global one unless another is given).  A
// parameter holds one value per priority; the value in force is the one at
// the highest priority that holds a value.  The priority-0 value is the
// default given at construction and is never removed.
//
// Values arrive as text (command line, configuration and policy files) via
// setParam, or typed from code via setValue.  Changes are logged through the
// "ConfigParameter" log source and reported to the registered
// ParameterChangedCallbacks, synchronously and in registration order.
//
// No locking: parameters are read and written on the main thread.

#include <cstdint>
#include <map>
#include <vector>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/MBuf.h"
#include "qocore/base/plat/Strings.h"

namespace plat {

class Configuration;
class ConfigParameter;

// Told of every change of the parameters it is registered with.
class ParameterChangedCallback {
 public:
  virtual ~ParameterChangedCallback() = default;
  virtual void parameterChanged(ConfigParameter* param, int priority) = 0;
};

// Marks a description argument as a key of the localisation tables rather
// than plain text: IntParameter p("Name", LocDesc{"plat_name_desc"}, ...).
struct LocDesc {
  const char* key;
};

// A parameter's description: plain text, or a LocDesc key.  Built
// implicitly from either, so each parameter type has one constructor that
// takes both forms.
class ParamDescription {
 public:
  ParamDescription(const char* text) noexcept : text_(text) {}
  ParamDescription(LocDesc loc) noexcept : key_(loc.key) {}
  const char* text() const noexcept { return text_; }
  const char* key() const noexcept { return key_; }

 private:
  const char* text_ = nullptr;
  const char* key_ = nullptr;
};

class ConfigParameter {
 public:
  // Named priority levels.  Anything at or above kPolicy counts as policy.
  static constexpr int kDefault = 0;
  static constexpr int kPreference = 10;  // configuration files, command line
  static constexpr int kPolicy = 30;      // policy files

  // Text by priority, one entry per stored value.
  using TextValues = std::map<int, CharArray>;

  ConfigParameter(const ConfigParameter&) = delete;
  ConfigParameter& operator=(const ConfigParameter&) = delete;
  // Frees only what the parameter owns; it stays linked in its
  // configuration, so it must outlive every use of that configuration.
  virtual ~ConfigParameter();

  // Parses the text for the type and stores it at the priority; false when
  // the text is refused.
  [[nodiscard]] virtual bool setParam(const char* text, int priority) = 0;
  // Removes the value at the priority (never priority 0; a priority without
  // a value is ignored) and, when notify is set, tells the callbacks.
  virtual void unsetParam(int priority, bool notify = true) = 0;
  // Stores a number; only int and enum parameters take one.
  virtual bool setIntValue(int value, int priority);
  // The text of the value in force.
  virtual CharArray getValueStr() const = 0;
  virtual int getIntValue() const;
  // The highest priority that holds a value.
  virtual int getPriority() const = 0;
  virtual bool hasValueAt(int priority) const = 0;
  // The text of the value at exactly that priority; null when there is none.
  virtual CharArray getValueStrAt(int priority) const = 0;
  virtual TextValues getAllValues() const = 0;
  // "bool", "int", "enum", "string", "s64" or "binary".
  virtual const char* typeName() const = 0;
  // A copy with all values, flags and range, owning its strings, registered
  // in and owned by `conf`.  Callbacks are not copied.
  virtual ConfigParameter* clone(Configuration& conf) const = 0;
  virtual CharArray formatInt(int value) const;

  const char* getName() const noexcept { return name_; }
  Configuration* getConfiguration() const noexcept { return conf_; }
  // The next parameter of the same configuration.
  ConfigParameter* getNext() const noexcept { return next_; }
  // The plain description if there is one, else the localised text.
  const char* getDescription() const noexcept;
  // The localisation key of the description, or null.
  const char* getDescriptionKey() const noexcept { return locDesc_; }
  // The text of the priority-0 value.
  CharArray getDefaultStr() const;
  // Hidden parameters (and all binary ones) are left out of the help.
  bool isHidden() const noexcept;

  // Replaces the flag set by the comma-separated list (null clears it).
  // The only flag acted on here is "noPolicy", which refuses values at
  // policy priority.
  void setFlags(const char* list);
  bool hasFlag(const char* flag) const noexcept;
  const StringSet& getFlags() const noexcept { return flags_; }

  // Removes every value above priority 0 without per-value notification;
  // when anything was removed and notify is set, calls each callback once
  // with priority 0.  True when anything was removed.
  bool resetToDefault(bool notify = true);
  // At the default, calls each callback with priority 0 and returns 0;
  // otherwise returns the priority in force without notifying.
  int notifyIfDefault();
  // Makes this parameter hold the values of `other`: priorities that other
  // lacks are unset (with notification), then each of its values is set
  // through setParam from its text.
  void copyValues(const ConfigParameter& other);

  // Callbacks are not owned.  Removing one (even itself) from inside a
  // notification is allowed; it is not called again.
  void addCallback(ParameterChangedCallback* callback);
  void removeCallback(ParameterChangedCallback* callback);

 protected:
  // Links the parameter at the head of conf's list (the global
  // configuration when conf is null).  A description or a key must be given.
  ConfigParameter(const char* name, ParamDescription desc, bool hidden, Configuration* conf, const char* flags);
  // For clone: copies name, description, key, hidden flag and flags into
  // strings this parameter owns, and registers it in conf.
  ConfigParameter(const ConfigParameter& from, Configuration& conf);

  // Whether a value may be stored at the priority.
  bool acceptsPriority(int priority) const noexcept;
  // Hands a copy made by clone to the configuration it was registered in,
  // which then owns it.
  static ConfigParameter* adoptClone(ConfigParameter* copy);
  void logSet(int priority) const;
  void logUnset(int priority) const;
  void notify(int priority);

 private:
  Configuration* conf_;
  ConfigParameter* next_;
  const char* name_;
  const char* desc_;
  const char* locDesc_;
  bool hidden_;
  StringSet flags_;
  std::vector<ParameterChangedCallback*> callbacks_;
  // A clone's own copies of its strings; name_, desc_ and locDesc_ then
  // point into them.
  CharArray ownName_, ownDesc_, ownLocDesc_;
  // Nesting depth of notify(); while above zero, removed callbacks leave a
  // null slot so the loop over the list stays valid.
  int notifying_ = 0;
};

// The per-priority value store shared by the typed parameters.  Defined for
// bool, int, String and MBuf<unsigned char> only.
template <typename T>
class TypedParameter : public ConfigParameter {
 public:
  void unsetParam(int priority, bool notify = true) override;
  CharArray getValueStr() const override;
  int getPriority() const override;
  bool hasValueAt(int priority) const override;
  CharArray getValueStrAt(int priority) const override;
  TextValues getAllValues() const override;

  // Stores the value at the priority, logs and notifies; false when the
  // priority is refused ("noPolicy").  Storing the value already held at
  // that priority returns true and does nothing else.
  bool setValue(const T& value, int priority);
  // The value in force.
  const T& getValue() const noexcept { return values_.rbegin()->second; }

 protected:
  TypedParameter(const char* name, ParamDescription desc, T def, bool hidden, Configuration* conf, const char* flags);
  TypedParameter(const TypedParameter& from, Configuration& conf);

  // The text form of one stored value.
  CharArray textOf(const T& value) const;

  std::map<int, T> values_;
};

// Instantiated once, in ConfigParameter.cpp.
extern template class TypedParameter<bool>;
extern template class TypedParameter<int>;
extern template class TypedParameter<String>;
extern template class TypedParameter<MBuf<unsigned char>>;

class BoolParameter : public TypedParameter<bool> {
 public:
  BoolParameter(const char* name, ParamDescription desc, bool def, bool hidden = false, Configuration* conf = nullptr,
                const char* flags = nullptr);

  // "1", "on", "true", "yes" and "0", "off", "false", "no" (the words
  // ignoring case); null means true, as a bare "-Name" on the command line.
  [[nodiscard]] bool setParam(const char* text, int priority) override;
  const char* typeName() const override { return "bool"; }
  ConfigParameter* clone(Configuration& conf) const override;

 private:
  BoolParameter(const BoolParameter& from, Configuration& conf) : TypedParameter(from, conf) {}
};

class IntParameter : public TypedParameter<int> {
 public:
  // Values lie in [minValue, maxValue].
  IntParameter(const char* name, ParamDescription desc, int def, int minValue, int maxValue, bool hidden = false,
               Configuration* conf = nullptr, const char* flags = nullptr);

  // strtol with base 0 over the whole text, then the range check.
  [[nodiscard]] bool setParam(const char* text, int priority) override;
  // Stores the number when it is within the range (the inherited setValue
  // stores it unchecked).
  bool setIntValue(int value, int priority) override;
  int getIntValue() const override { return getValue(); }
  const char* typeName() const override { return "int"; }
  ConfigParameter* clone(Configuration& conf) const override;

  int getMin() const noexcept { return min_; }
  int getMax() const noexcept { return max_; }

 protected:
  IntParameter(const IntParameter& from, Configuration& conf)
      : TypedParameter(from, conf), min_(from.min_), max_(from.max_) {}

  int min_;
  int max_;
};

// An int holding the index into a list of value names; set and shown by
// name.
class EnumParameter : public IntParameter {
 public:
  // `names` is a null-terminated array of static texts (borrowed).  The
  // default is the first name equal to `def` ignoring case, else index 0.
  EnumParameter(const char* name, ParamDescription desc, const char* def, const char* const* names, bool hidden = false,
                Configuration* conf = nullptr, const char* flags = nullptr);

  // Only a name (ignoring case) is accepted, never a number.
  [[nodiscard]] bool setParam(const char* text, int priority) override;
  const char* typeName() const override { return "enum"; }
  ConfigParameter* clone(Configuration& conf) const override;
  // The name at that index.
  CharArray formatInt(int value) const override;

  const char* const* getNames() const noexcept { return names_; }

 private:
  EnumParameter(const EnumParameter& from, Configuration& conf);

  const char* const* names_;
  // The clone's own copy of the names, and the array names_ then points to.
  CharArrayList ownNames_;
  std::vector<const char*> ownNameList_;
};

// Valid UTF-8 text, never null.
class StringParameter : public TypedParameter<String> {
 public:
  // A null default is an assertion failure.
  StringParameter(const char* name, ParamDescription desc, const char* def, bool hidden = false,
                  Configuration* conf = nullptr, const char* flags = nullptr);

  // Null is refused; text that is not valid UTF-8 throws BadUtf8.
  [[nodiscard]] bool setParam(const char* text, int priority) override;
  // The same checks as setParam.
  bool setValue(const char* value, int priority);
  const char* getValue() const noexcept { return TypedParameter::getValue().get(); }
  const char* typeName() const override { return "string"; }
  ConfigParameter* clone(Configuration& conf) const override;

 private:
  StringParameter(const StringParameter& from, Configuration& conf) : TypedParameter(from, conf) {}
};

// A signed 64-bit number, kept as "int64:" and 16 lower-case hex digits,
// most significant first.
class S64Parameter : public TypedParameter<String> {
 public:
  S64Parameter(const char* name, ParamDescription desc, int64_t def, bool hidden = false, Configuration* conf = nullptr,
               const char* flags = nullptr);

  // Either the canonical form (stored as given) or 16 hex digits read as 8
  // little-endian bytes.
  [[nodiscard]] bool setParam(const char* text, int priority) override;
  bool setValue(int64_t value, int priority);
  int64_t getValue() const noexcept;
  const char* typeName() const override { return "s64"; }
  ConfigParameter* clone(Configuration& conf) const override;

  // The canonical text of a value.
  static String format(int64_t value);

 private:
  S64Parameter(const S64Parameter& from, Configuration& conf) : TypedParameter(from, conf) {}
};

// A byte string; its text form is lower-case hex, two digits per byte.
// Each stored buffer keeps its secure flag, and logs only ever show
// "<binary>".
class BinaryParameter : public TypedParameter<MBuf<unsigned char>> {
 public:
  BinaryParameter(const char* name, ParamDescription desc, int count, const unsigned char* bytes, bool hidden = false,
                  Configuration* conf = nullptr, const char* flags = nullptr);

  // Hex digits of either case, two per byte; the empty text is an empty
  // value.
  [[nodiscard]] bool setParam(const char* text, int priority) override;
  // Always "<binary>".
  CharArray getValueStrAt(int priority) const override;
  const char* typeName() const override { return "binary"; }
  ConfigParameter* clone(Configuration& conf) const override;

  // Copies the value in force, with its secure flag, into `out` and
  // returns that flag.
  bool getBinary(MBuf<unsigned char>& out) const;
  using TypedParameter::setValue;
  bool setValue(int count, const unsigned char* bytes, int priority);

 private:
  BinaryParameter(const BinaryParameter& from, Configuration& conf) : TypedParameter(from, conf) {}
};

}  // namespace plat
