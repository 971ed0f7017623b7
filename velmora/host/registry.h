// The class registry: component classes by name, for the form reader and
// for the command line, and the palette pages they are registered on.
//
// Class names compare without regard to ASCII case.  Registering a name
// again replaces its factory (a package registering twice is harmless).  All
// functions are safe to call from any thread.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "velmora/host/classes.h"

namespace velmora::host {

// Creates a component of one class with the given owner.
using ComponentFactory = std::function<TComponent*(TComponent* owner)>;

void RegisterClass(const std::string& class_name, ComponentFactory factory);
void UnRegisterClass(const std::string& class_name);
// Registers each class and records it on the palette page.
void RegisterComponents(const std::string& page,
                        const std::vector<std::pair<std::string, ComponentFactory>>& classes);
// The classes registered on a page, in order of registration.
std::vector<std::string> PaletteClasses(const std::string& page);
// Every palette page, in order of first registration.
std::vector<std::string> PalettePages();

// The factory of a class; an empty function when the class is unknown.
ComponentFactory GetClass(const std::string& class_name);
// The factory of a class; EClassNotFound ("Class TFoo not found") when the
// class is unknown.
ComponentFactory FindClass(const std::string& class_name);

// A factory for a class whose constructor takes the owner.
template <class C>
ComponentFactory FactoryOf() {
  return [](TComponent* owner) -> TComponent* { return new C(owner); };
}

}  // namespace velmora::host
