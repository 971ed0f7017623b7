#include "velmora/host/registry.h"

#include <algorithm>
#include <mutex>

#include "velmora/host/exception.h"
#include "velmora/host/text.h"

namespace velmora::host {

namespace {

struct Registry {
  std::mutex mutex;
  std::vector<std::pair<std::string, ComponentFactory>> classes;
  std::vector<std::pair<std::string, std::vector<std::string>>> pages;

  // Requires the mutex.
  ComponentFactory* Find(const std::string& name) {
    for (auto& [n, f] : classes) {
      if (SameText(n, name)) return &f;
    }
    return nullptr;
  }
};

Registry& TheRegistry() {
  static Registry* registry = new Registry;  // used until the process ends
  return *registry;
}

}  // namespace

void RegisterClass(const std::string& class_name, ComponentFactory factory) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  if (ComponentFactory* f = r.Find(class_name)) {
    *f = std::move(factory);
  } else {
    r.classes.emplace_back(class_name, std::move(factory));
  }
}

void UnRegisterClass(const std::string& class_name) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  std::erase_if(r.classes, [&](const auto& c) { return SameText(c.first, class_name); });
  for (auto& [page, names] : r.pages) {
    std::erase_if(names, [&](const std::string& n) { return SameText(n, class_name); });
  }
}

void RegisterComponents(const std::string& page,
                        const std::vector<std::pair<std::string, ComponentFactory>>& classes) {
  for (const auto& [name, factory] : classes) RegisterClass(name, factory);
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it =
      std::find_if(r.pages.begin(), r.pages.end(), [&](const auto& p) { return p.first == page; });
  if (it == r.pages.end()) {
    r.pages.emplace_back(page, std::vector<std::string>{});
    it = r.pages.end() - 1;
  }
  for (const auto& c : classes) {
    auto& names = it->second;
    if (std::none_of(names.begin(), names.end(),
                     [&](const std::string& n) { return SameText(n, c.first); })) {
      names.push_back(c.first);
    }
  }
}

std::vector<std::string> PaletteClasses(const std::string& page) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  for (const auto& [p, names] : r.pages) {
    if (p == page) return names;
  }
  return {};
}

std::vector<std::string> PalettePages() {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  std::vector<std::string> out;
  for (const auto& p : r.pages) out.push_back(p.first);
  return out;
}

ComponentFactory GetClass(const std::string& class_name) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  ComponentFactory* f = r.Find(class_name);
  return f ? *f : ComponentFactory{};
}

ComponentFactory FindClass(const std::string& class_name) {
  ComponentFactory f = GetClass(class_name);
  if (!f) throw EClassNotFound("Class " + class_name + " not found");
  return f;
}

}  // namespace velmora::host
