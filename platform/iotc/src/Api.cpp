// The C entry points: argument shapes only, everything else is the runtime's.

#include "Runtime.h"
#include "iotc/iotc.h"

extern "C" {

int IOTC_Initialize(unsigned short /*udpPort*/, const char* relayAddress1,
                    const char* relayAddress2, const char* relayHost1, const char* relayHost2) {
    return iotc::Runtime::instance().initialize(
        {relayAddress1, relayAddress2, relayHost1, relayHost2});
}

int IOTC_DeInitialize(void) {
    return iotc::Runtime::instance().deinitialize();
}

int IOTC_Connect_ByUID(const char* uid) {
    return iotc::Runtime::instance().connect(uid, nullptr, nullptr);
}

int IOTC_Connect_ByUID_Ex(const char* uid, IotcCancelCheck cancelled, void* context) {
    return iotc::Runtime::instance().connect(uid, cancelled, context);
}

void IOTC_Connect_Stop(void) {
    iotc::Runtime::instance().stopConnects();
}

void IOTC_Session_Close(int sid) {
    iotc::Runtime::instance().closeSession(sid);
}

int IOTC_Device_Login(const char* uid) {
    return iotc::Runtime::instance().login(uid);
}

int IOTC_Listen(int deviceId, unsigned timeoutMs) {
    return iotc::Runtime::instance().listen(deviceId, timeoutMs);
}

void IOTC_Device_Logout(int deviceId) {
    iotc::Runtime::instance().logout(deviceId);
}

int RDT_Initialize(void) {
    return iotc::Runtime::instance().rdtInitialize();
}

int RDT_DeInitialize(void) {
    return iotc::Runtime::instance().rdtDeinitialize();
}

int RDT_Create(int sid, int timeoutMs, unsigned char channel) {
    return iotc::Runtime::instance().rdtCreate(sid, timeoutMs, channel);
}

int RDT_Destroy(int rdtId) {
    return iotc::Runtime::instance().rdtDestroy(rdtId);
}

int RDT_Write(int rdtId, const char* data, int length) {
    return iotc::Runtime::instance().rdtWrite(rdtId, data, length);
}

int RDT_Read(int rdtId, char* buffer, int size, int timeoutMs) {
    return iotc::Runtime::instance().rdtRead(rdtId, buffer, size, timeoutMs);
}

int RDT_Status_Check(int rdtId, RdtStatus* status) {
    return iotc::Runtime::instance().rdtStatus(rdtId, status);
}

} // extern "C"
