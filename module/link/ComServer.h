// The module's automation server: its one class (the live link's event handler),
// the class's registration at every load, the module lock count, and the handler's
// type information.
#pragma once

#include "platform/TypeLib.h"
#include "platform/Unknown.h"
#include "platform/WinTypes.h"

namespace tabro {

// Prepares the server with the module's instance handle (its resources and path).
void initComModule(HINSTANCE module);
// Applies the class's registry script under HKEY_CLASSES_ROOT (%MODULE% = the
// module's path) and registers the type library, the module's folder as its help
// folder. False when either failed; the caller goes on without.
bool registerComServer(HINSTANCE module);
// Releases what the server keeps (the type information) and ends it.
void terminateComModule();

// Objects of the module alive; the module may be unloaded only at 0. Interlocked:
// objects live on the link thread.
void lockModule() noexcept;
void unlockModule() noexcept;
LONG moduleLockCount() noexcept;

// The type information of IAppEventHandler, from the registered type library or,
// when that is not registered, from the module's own resource; loaded once and kept
// until terminateComModule.
HRESULT handlerTypeInfo(platform::ComPtr<ITypeInfo>& info);

}  // namespace tabro
