// HookSlot: a callback holder armed lazily by its initialiser.
#include "runtime/host/runtime_application.h"

namespace rt {

void HookSlot::Fill(HookRoutine i, HookRoutine h, HookFinaliser f) {
  // A slot without initialiser but with a finaliser was armed and used:
  // finish it before it is replaced.
  if (initialiser == nullptr && finaliser != nullptr) finaliser();
  if (i != nullptr && h != nullptr) {
    initialiser = i;
    handler = h;
    finaliser = f;
  } else {
    initialiser = nullptr;
    handler = nullptr;
    finaliser = nullptr;
  }
}

intptr_t HookSlot::Invoke(intptr_t argument) {
  if (initialiser != nullptr) {
    HookRoutine init = initialiser;
    initialiser = nullptr;
    if (init(argument) == 0) {
      handler = nullptr;
      finaliser = nullptr;
    }
  }
  return handler != nullptr ? handler(argument) : 0;
}

}  // namespace rt
