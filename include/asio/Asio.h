// ASIO 2 application binary interface for Windows x64, as hosts and drivers exchange it.
// Written from the published ABI; structures use the 4-byte packing of the standard's Windows header.
#pragma once

#include <windows.h>
#include <unknwn.h>
#include <cstddef>

typedef long ASIOBool;
typedef long ASIOError;
typedef long ASIOSampleType;
typedef double ASIOSampleRate;

enum : long { ASIOFalse = 0, ASIOTrue = 1 };

enum : long {
    ASE_OK = 0,
    ASE_SUCCESS = 0x3f4847a0,
    ASE_NotPresent = -1000,
    ASE_HWMalfunction = -999,
    ASE_InvalidParameter = -998,
    ASE_InvalidMode = -997,
    ASE_SPNotAdvancing = -996,
    ASE_NoClock = -995,
    ASE_NoMemory = -994,
};

enum : long {
    ASIOSTInt16MSB = 0,
    ASIOSTInt24MSB = 1,
    ASIOSTInt32MSB = 2,
    ASIOSTFloat32MSB = 3,
    ASIOSTFloat64MSB = 4,
    ASIOSTInt32MSB16 = 8,
    ASIOSTInt32MSB18 = 9,
    ASIOSTInt32MSB20 = 10,
    ASIOSTInt32MSB24 = 11,
    ASIOSTInt16LSB = 16,
    ASIOSTInt24LSB = 17,
    ASIOSTInt32LSB = 18,
    ASIOSTFloat32LSB = 19,
    ASIOSTFloat64LSB = 20,
    ASIOSTInt32LSB16 = 24,
    ASIOSTInt32LSB18 = 25,
    ASIOSTInt32LSB20 = 26,
    ASIOSTInt32LSB24 = 27,
    ASIOSTDSDInt8LSB1 = 32,
    ASIOSTDSDInt8MSB1 = 33,
    ASIOSTDSDInt8NER8 = 40,
};

// Selectors of the host's asioMessage callback.
enum : long {
    kAsioSelectorSupported = 1,
    kAsioEngineVersion,
    kAsioResetRequest,
    kAsioBufferSizeChange,
    kAsioResyncRequest,
    kAsioLatenciesChanged,
    kAsioSupportsTimeInfo,
    kAsioSupportsTimeCode,
    kAsioMMCCommand,
    kAsioSupportsInputMonitor,
    kAsioSupportsInputGain,
    kAsioSupportsInputMeter,
    kAsioSupportsOutputGain,
    kAsioSupportsOutputMeter,
    kAsioOverload,
};

// Selectors of IASIO::future.
enum : long {
    kAsioEnableTimeCodeRead = 1,
    kAsioDisableTimeCodeRead,
    kAsioSetInputMonitor,
    kAsioTransport,
    kAsioSetInputGain,
    kAsioGetInputMeter,
    kAsioSetOutputGain,
    kAsioGetOutputMeter,
    kAsioCanInputMonitor,
    kAsioCanTimeInfo,
    kAsioCanTimeCode,
    kAsioCanTransport,
    kAsioCanInputGain,
    kAsioCanInputMeter,
    kAsioCanOutputGain,
    kAsioCanOutputMeter,
};

// AsioTimeInfo::flags
enum : unsigned long {
    kSystemTimeValid = 1,
    kSamplePositionValid = 1 << 1,
    kSampleRateValid = 1 << 2,
    kSpeedValid = 1 << 3,
    kSampleRateChanged = 1 << 4,
    kClockSourceChanged = 1 << 5,
};

// ASIOTimeCode::flags
enum : unsigned long {
    kTcValid = 1,
    kTcRunning = 1 << 1,
    kTcReverse = 1 << 2,
    kTcOnspeed = 1 << 3,
    kTcStill = 1 << 4,
    kTcSpeedValid = 1 << 8,
};

#pragma pack(push, 4)

struct ASIOSamples {
    unsigned long hi;
    unsigned long lo;
};

struct ASIOTimeStamp {
    unsigned long hi;
    unsigned long lo;
};

struct ASIODriverInfo {
    long asioVersion;
    long driverVersion;
    char name[32];
    char errorMessage[124];
    void* sysRef;
};

struct ASIOClockSource {
    long index;
    long associatedChannel;
    long associatedGroup;
    ASIOBool isCurrentSource;
    char name[32];
};

struct ASIOChannelInfo {
    long channel;
    ASIOBool isInput;
    ASIOBool isActive;
    long channelGroup;
    ASIOSampleType type;
    char name[32];
};

struct ASIOBufferInfo {
    ASIOBool isInput;
    long channelNum;
    void* buffers[2];
};

struct AsioTimeInfo {
    double speed;
    ASIOTimeStamp systemTime;
    ASIOSamples samplePosition;
    ASIOSampleRate sampleRate;
    unsigned long flags;
    char reserved[12];
};

struct ASIOTimeCode {
    double speed;
    ASIOSamples timeCodeSamples;
    unsigned long flags;
    char future[64];
};

struct ASIOTime {
    long reserved[4];
    AsioTimeInfo timeInfo;
    ASIOTimeCode timeCode;
};

// The host's callbacks are plain C functions.
struct ASIOCallbacks {
    void(__cdecl* bufferSwitch)(long doubleBufferIndex, ASIOBool directProcess);
    void(__cdecl* sampleRateDidChange)(ASIOSampleRate sRate);
    long(__cdecl* asioMessage)(long selector, long value, void* message, double* opt);
    ASIOTime*(__cdecl* bufferSwitchTimeInfo)(ASIOTime* params, long doubleBufferIndex, ASIOBool directProcess);
};

#pragma pack(pop)

static_assert(sizeof(long) == 4, "ASIO's long is 32 bits on Windows");
static_assert(sizeof(ASIOSamples) == 8 && sizeof(ASIOTimeStamp) == 8);
static_assert(offsetof(ASIOSamples, lo) == 4 && offsetof(ASIOTimeStamp, lo) == 4);
static_assert(offsetof(ASIODriverInfo, name) == 8);
static_assert(offsetof(ASIODriverInfo, errorMessage) == 40);
static_assert(offsetof(ASIODriverInfo, sysRef) == 164);
static_assert(sizeof(ASIOClockSource) == 48);
static_assert(offsetof(ASIOClockSource, name) == 16);
static_assert(sizeof(ASIOChannelInfo) == 52);
static_assert(offsetof(ASIOChannelInfo, type) == 16);
static_assert(offsetof(ASIOChannelInfo, name) == 20);
static_assert(offsetof(ASIOBufferInfo, buffers) == 8);
static_assert(sizeof(AsioTimeInfo) == 48);
static_assert(offsetof(AsioTimeInfo, systemTime) == 8);
static_assert(offsetof(AsioTimeInfo, samplePosition) == 16);
static_assert(offsetof(AsioTimeInfo, sampleRate) == 24);
static_assert(offsetof(AsioTimeInfo, flags) == 32);
static_assert(sizeof(ASIOTimeCode) == 84);
static_assert(offsetof(ASIOTimeCode, flags) == 16);
static_assert(sizeof(ASIOTime) == 148);
static_assert(offsetof(ASIOTime, timeInfo) == 16);
static_assert(offsetof(ASIOTime, timeCode) == 64);
// Pointer fields follow the bitness; 4-byte packing leaves no padding before them.
#if defined(_WIN64)
static_assert(sizeof(ASIODriverInfo) == 172);
static_assert(sizeof(ASIOBufferInfo) == 24);
static_assert(sizeof(ASIOCallbacks) == 32);
static_assert(offsetof(ASIOCallbacks, asioMessage) == 16);
static_assert(offsetof(ASIOCallbacks, bufferSwitchTimeInfo) == 24);
#else
static_assert(sizeof(void*) == 4);
static_assert(sizeof(ASIODriverInfo) == 168);
static_assert(sizeof(ASIOBufferInfo) == 16);
static_assert(sizeof(ASIOCallbacks) == 16);
static_assert(offsetof(ASIOCallbacks, asioMessage) == 8);
static_assert(offsetof(ASIOCallbacks, bufferSwitchTimeInfo) == 12);
#endif

// IASIO's own methods are plain C++ member functions as the common Windows compilers build them:
// on 32-bit Windows that is thiscall (this in ECX, the callee pops its arguments), while the
// IUnknown methods are stdcall. x64 has one convention for both.
#if defined(_WIN64)
#define ASIOMETHODCALLTYPE
#else
#define ASIOMETHODCALLTYPE __attribute__((thiscall))
#endif

// The driver interface. Hosts obtain it from CoCreateInstance with the driver's class id as the
// interface id; the slots follow IUnknown in this order.
struct IASIO : public IUnknown {
    virtual ASIOBool ASIOMETHODCALLTYPE init(void* sysHandle) = 0;
    virtual void ASIOMETHODCALLTYPE getDriverName(char* name) = 0;
    virtual long ASIOMETHODCALLTYPE getDriverVersion() = 0;
    virtual void ASIOMETHODCALLTYPE getErrorMessage(char* string) = 0;
    virtual ASIOError ASIOMETHODCALLTYPE start() = 0;
    virtual ASIOError ASIOMETHODCALLTYPE stop() = 0;
    virtual ASIOError ASIOMETHODCALLTYPE getChannels(long* numInputChannels, long* numOutputChannels) = 0;
    virtual ASIOError ASIOMETHODCALLTYPE getLatencies(long* inputLatency, long* outputLatency) = 0;
    virtual ASIOError ASIOMETHODCALLTYPE getBufferSize(long* minSize, long* maxSize, long* preferredSize,
                                                      long* granularity) = 0;
    virtual ASIOError ASIOMETHODCALLTYPE canSampleRate(ASIOSampleRate sampleRate) = 0;
    virtual ASIOError ASIOMETHODCALLTYPE getSampleRate(ASIOSampleRate* sampleRate) = 0;
    virtual ASIOError ASIOMETHODCALLTYPE setSampleRate(ASIOSampleRate sampleRate) = 0;
    virtual ASIOError ASIOMETHODCALLTYPE getClockSources(ASIOClockSource* clocks, long* numSources) = 0;
    virtual ASIOError ASIOMETHODCALLTYPE setClockSource(long reference) = 0;
    virtual ASIOError ASIOMETHODCALLTYPE getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) = 0;
    virtual ASIOError ASIOMETHODCALLTYPE getChannelInfo(ASIOChannelInfo* info) = 0;
    virtual ASIOError ASIOMETHODCALLTYPE createBuffers(ASIOBufferInfo* bufferInfos, long numChannels,
                                                      long bufferSize, ASIOCallbacks* callbacks) = 0;
    virtual ASIOError ASIOMETHODCALLTYPE disposeBuffers() = 0;
    virtual ASIOError ASIOMETHODCALLTYPE controlPanel() = 0;
    virtual ASIOError ASIOMETHODCALLTYPE future(long selector, void* opt) = 0;
    virtual ASIOError ASIOMETHODCALLTYPE outputReady() = 0;
};
