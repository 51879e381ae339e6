#include "qocore/base/plat/Configuration.h"

#include <strings.h>

#include "qocore/base/plat/ConfigParameter.h"

namespace plat {

Configuration::Configuration(const char* name, const char* titleKey) : name_(name), titleKey_(titleKey) {}

Configuration::~Configuration() = default;

Configuration& Configuration::global() {
  // Never destroyed: parameters of every library register here from their
  // static initialisers, and code running at exit may still read them.
  static Configuration* const g = new Configuration("Global", "plat_configuration_global_params");
  return *g;
}

ConfigParameter* Configuration::findParam(const char* name) const noexcept {
  if (!name) return nullptr;
  for (ConfigParameter* p = params_; p; p = p->getNext()) {
    if (strcasecmp(p->getName(), name) == 0) return p;
  }
  return nullptr;
}

bool Configuration::setParam(const char* name, const char* text, int priority) {
  ConfigParameter* p = findParam(name);
  return p && p->setParam(text, priority);
}

ConfigParameter* Configuration::link(ConfigParameter* param) noexcept {
  ConfigParameter* old = params_;
  params_ = param;
  return old;
}

void Configuration::own(std::unique_ptr<ConfigParameter> param) { owned_.push_back(std::move(param)); }

}  // namespace plat
