// The application base: the host's application messages dispatched to one virtual
// operation each, the initialisation and unload sequences around them, and the
// module's own path. Main thread only.
#pragma once

#include "host/AcRx.h"
#include "platform/WinTypes.h"

namespace tabro {

class ArxAppBase {
public:
    // Records this object as the module's one application object.
    ArxAppBase();
    virtual ~ArxAppBase();
    ArxAppBase(const ArxAppBase&) = delete;
    ArxAppBase& operator=(const ArxAppBase&) = delete;

    // The module's file name from its last "/" on, the "/" included ("/tabro.so");
    // null when the path cannot be had. Kept in a static buffer that the next call
    // overwrites.
    virtual const char* moduleFileName();
    // The module's folder without a trailing "/"; null when the path cannot be had,
    // holds no "/", or does not fit the 260-character buffer (a cut path would name
    // the wrong folder). Static buffer, overwritten by the next call.
    virtual const char* moduleFolder();
    virtual void* appId();

    virtual AcRx::AppRetCode onInitApp();
    virtual AcRx::AppRetCode onUnloadApp();
    virtual AcRx::AppRetCode onLoadDwg();
    virtual AcRx::AppRetCode onUnloadDwg();
    virtual AcRx::AppRetCode onSave();
    virtual AcRx::AppRetCode onEnd();
    virtual AcRx::AppRetCode onQuit();
    virtual AcRx::AppRetCode onConfig();
    virtual AcRx::AppRetCode onInvokeSubr();
    virtual AcRx::AppRetCode onDependency();
    virtual AcRx::AppRetCode onNoDependency();
    virtual AcRx::AppRetCode onOleUnload();
    virtual AcRx::AppRetCode onPreQuit();
    virtual AcRx::AppRetCode onInitDialog(void* pkt);
    virtual AcRx::AppRetCode onEndDialog(void* pkt);
    virtual void registerClasses();
    virtual void unregisterClasses();
    virtual void registerCommands();
    virtual void unregisterCommands();
    virtual void initLate();
    virtual void unloadEarly();
    virtual void initAfterCommands();

    // Stores pkt as the application id, then runs the message's operation (codes 1
    // to 15); any other code does nothing and answers kRetOK.
    AcRx::AppRetCode dispatch(AcRx::AppMsgCode msg, void* pkt);

    // The module's instance handle, recorded when the module is mapped (null when the
    // code runs linked into a program rather than loaded as a module).
    HINSTANCE moduleHandle = nullptr;
    // The HTML help library, loaded on first use and kept until the process ends:
    // the help window may outlive the command. Here rather than in the module's own
    // application object because the Options dialog shows help too.
    HINSTANCE helpLibrary = nullptr;

protected:
    void* appId_ = nullptr;

private:
    AcRx::AppRetCode initSequence(void* pkt);
    AcRx::AppRetCode unloadSequence();
};

// The application object recorded by the last constructed ArxAppBase.
ArxAppBase* arxApp();

}  // namespace tabro
