// The C functions of kelvard.h: argument checks, one lock per board, and the objects behind the
// opaque types. Nothing may escape as an exception: an allocation that fails is
// KELVARD_ERR_NO_MEMORY, anything else unexpected KELVARD_ERR_SYSTEM.
#include "kelvard/kelvard.h"

#include "kelvard/BoardWatch.h"
#include "kelvard/ComBoard.h"
#include "kelvard/TcpBoard.h"
#include "kelvard/UsbBoard.h"

#include "protocol/DriverContext.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

struct kelvard_identity
{
    SBoardInfo infoBoard;
};

struct kelvard_list
{
    std::vector<kelvard_identity> vecBoards;
};

struct kelvard_board
{
    std::mutex mtxCalls;
    std::unique_ptr<CKelvardBoard> pBoard;
    kelvard_identity idBoard;
};

struct kelvard_watch
{
    explicit kelvard_watch(std::shared_ptr<CDriverContext> pContext)
        : wchBoards(std::move(pContext))
    {
    }
    CKelvardWatch wchBoards;
};

namespace
{
constexpr char TCP_PREFIX[] = "tcp:";
constexpr unsigned CONFIG_PARTS = KELVARD_CONFIG_ALL_DIRECTIONS | KELVARD_CONFIG_ALL_POLARITY |
                                  KELVARD_CONFIG_ANALOG_COUNT;

template <typename F>
int Guarded(F&& fnCall) noexcept
{
    try
    {
        return fnCall();
    }
    catch (const std::bad_alloc&)
    {
        return KELVARD_ERR_NO_MEMORY;
    }
    catch (...)
    {
        return KELVARD_ERR_SYSTEM;
    }
}

// The call on the board, alone on it.
template <typename F>
int OnBoard(kelvard_board* pBoard, F&& fnCall) noexcept
{
    if (!pBoard)
        return KELVARD_ERR_ARGUMENT;
    return Guarded([&]() -> int {
        std::lock_guard lock(pBoard->mtxCalls);
        return fnCall(*pBoard->pBoard);
    });
}

bool ValidPort(const kelvard_board* pBoard, int nPort)
{
    return nPort >= 0 && nPort < KELVARD_PORTS && pBoard;
}

int OpenByName(const std::string& strName, std::unique_ptr<CKelvardBoard>& pBoard)
{
    if (strName.rfind(TCP_PREFIX, 0) == 0)
        return CKelvardTcpBoard::Open(strName.substr(std::strlen(TCP_PREFIX)), pBoard);
    SBoardTarget target;
    std::string strError;
    if (SBoardTarget::Parse(strName, target, strError))
        return CKelvardUsbBoard::Open(*CDriverContext::Default(), target, pBoard);
    return CKelvardComBoard::Open(strName, pBoard);
}
} // namespace

extern "C" {

KELVARD_API const char* kelvard_result_text(int nResult)
{
    switch (nResult)
    {
    case KELVARD_OK:
        return "success";
    case KELVARD_ERR_ARGUMENT:
        return "invalid argument";
    case KELVARD_ERR_NOT_FOUND:
        return "no such board";
    case KELVARD_ERR_AMBIGUOUS:
        return "the name fits more than one board";
    case KELVARD_ERR_ACCESS:
        return "permission denied";
    case KELVARD_ERR_BUSY:
        return "in use by another program";
    case KELVARD_ERR_IO:
        return "the board did not answer";
    case KELVARD_ERR_GONE:
        return "the board is gone";
    case KELVARD_ERR_NOT_SUPPORTED:
        return "not supported by this kind of board";
    case KELVARD_ERR_BOOTLOADER:
        return "the board is in its bootloader";
    case KELVARD_ERR_NO_MEMORY:
        return "out of memory";
    case KELVARD_ERR_SYSTEM:
        return "the system refused";
    case KELVARD_ERR_AGAIN:
        return "nothing waiting";
    case KELVARD_ERR_EXISTS:
        return "a field of that name exists";
    case KELVARD_ERR_OVERLAP:
        return "the pins belong to another field";
    default:
        return "unknown result";
    }
}

KELVARD_API int kelvard_identity_device_id(const kelvard_identity* pIdentity)
{
    return pIdentity ? pIdentity->infoBoard.nDeviceId : -1;
}

KELVARD_API const char* kelvard_identity_serial(const kelvard_identity* pIdentity)
{
    return pIdentity ? pIdentity->infoBoard.strSerial.c_str() : "";
}

KELVARD_API unsigned kelvard_identity_version(const kelvard_identity* pIdentity)
{
    return pIdentity && !pIdentity->infoBoard.bBoot ? pIdentity->infoBoard.wVersion : 0;
}

KELVARD_API kelvard_mode kelvard_identity_mode(const kelvard_identity* pIdentity)
{
    return pIdentity && pIdentity->infoBoard.bBoot ? KELVARD_MODE_BOOTLOADER : KELVARD_MODE_APPLICATION;
}

KELVARD_API const char* kelvard_identity_location(const kelvard_identity* pIdentity)
{
    return pIdentity ? pIdentity->infoBoard.strLocation.c_str() : "";
}

KELVARD_API int kelvard_identity_open_result(const kelvard_identity* pIdentity)
{
    if (!pIdentity)
        return KELVARD_ERR_ARGUMENT;
    return pIdentity->infoBoard.eOpen == EStatus::Gone ? KELVARD_ERR_NOT_FOUND
                                                  : ResultOf(pIdentity->infoBoard.eOpen);
}

KELVARD_API int kelvard_list_boards(kelvard_list** ppList)
{
    if (!ppList)
        return KELVARD_ERR_ARGUMENT;
    return Guarded([&]() -> int {
        auto pList = std::make_unique<kelvard_list>();
        for (SBoardInfo& info : CKelvardUsbBoard::List(*CDriverContext::Default()))
            pList->vecBoards.push_back({std::move(info)});
        *ppList = pList.release();
        return KELVARD_OK;
    });
}

KELVARD_API size_t kelvard_list_count(const kelvard_list* pList)
{
    return pList ? pList->vecBoards.size() : 0;
}

KELVARD_API const kelvard_identity* kelvard_list_get(const kelvard_list* pList, size_t nIndex)
{
    return pList && nIndex < pList->vecBoards.size() ? &pList->vecBoards[nIndex] : nullptr;
}

KELVARD_API void kelvard_list_free(kelvard_list* pList)
{
    delete pList;
}

KELVARD_API int kelvard_board_open(const char* pszName, kelvard_board** ppBoard)
{
    if (!pszName || !*pszName || !ppBoard)
        return KELVARD_ERR_ARGUMENT;
    return Guarded([&]() -> int {
        auto pOpen = std::make_unique<kelvard_board>();
        const int nResult = OpenByName(pszName, pOpen->pBoard);
        if (nResult != KELVARD_OK)
            return nResult;
        if (const SBoardInfo* pInfo = pOpen->pBoard->Identity())
            pOpen->idBoard.infoBoard = *pInfo;
        *ppBoard = pOpen.release();
        return KELVARD_OK;
    });
}

KELVARD_API void kelvard_board_close(kelvard_board* pBoard)
{
    delete pBoard;
}

KELVARD_API kelvard_kind kelvard_board_kind(const kelvard_board* pBoard)
{
    return pBoard ? pBoard->pBoard->Kind() : KELVARD_KIND_USB;
}

KELVARD_API unsigned kelvard_board_port_count(const kelvard_board* pBoard)
{
    return pBoard ? pBoard->pBoard->PortCount() : 0;
}

KELVARD_API int kelvard_board_identity(const kelvard_board* pBoard,
                                       const kelvard_identity** ppIdentity)
{
    if (!pBoard || !ppIdentity)
        return KELVARD_ERR_ARGUMENT;
    if (!pBoard->pBoard->Identity())
        return KELVARD_ERR_NOT_SUPPORTED;
    *ppIdentity = &pBoard->idBoard;
    return KELVARD_OK;
}

KELVARD_API int kelvard_board_read_ports(kelvard_board* pBoard, uint8_t* pValues, size_t nCount)
{
    if (!pValues || nCount == 0)
        return KELVARD_ERR_ARGUMENT;
    return OnBoard(pBoard, [&](CKelvardBoard& board) -> int {
        if (nCount > board.PortCount())
            return nCount > KELVARD_PORTS ? KELVARD_ERR_ARGUMENT : KELVARD_ERR_NOT_SUPPORTED;
        return board.ReadPorts(pValues, nCount);
    });
}

KELVARD_API int kelvard_board_write_port(kelvard_board* pBoard, kelvard_port ePort, uint8_t byValue)
{
    if (!ValidPort(pBoard, ePort))
        return KELVARD_ERR_ARGUMENT;
    return OnBoard(pBoard, [&](CKelvardBoard& board) { return board.WritePort(ePort, byValue); });
}

KELVARD_API int kelvard_board_write_bit(kelvard_board* pBoard, kelvard_port ePort, unsigned nBit,
                                        int nValue)
{
    if (!ValidPort(pBoard, ePort) || nBit > 7)
        return KELVARD_ERR_ARGUMENT;
    return OnBoard(pBoard,
                   [&](CKelvardBoard& board) { return board.WriteBit(ePort, nBit, nValue != 0); });
}

KELVARD_API int kelvard_board_read_config(kelvard_board* pBoard, kelvard_config* pConfig)
{
    if (!pConfig)
        return KELVARD_ERR_ARGUMENT;
    return OnBoard(pBoard, [&](CKelvardBoard& board) -> int {
        ConfigBlock config;
        const int nResult = board.ReadConfig(config);
        if (nResult != KELVARD_OK)
            return nResult;
        std::copy(config.byDir.begin(), config.byDir.end(), pConfig->direction);
        std::copy(config.byInv.begin(), config.byInv.end(), pConfig->polarity);
        pConfig->analog_count = config.byAnalogCount;
        return KELVARD_OK;
    });
}

KELVARD_API int kelvard_board_change_config(kelvard_board* pBoard, const kelvard_config* pConfig,
                                            unsigned nMask)
{
    if (!pConfig || nMask == 0 || (nMask & ~CONFIG_PARTS) != 0 ||
        ((nMask & KELVARD_CONFIG_ANALOG_COUNT) && pConfig->analog_count > ANALOG_CHANNELS))
        return KELVARD_ERR_ARGUMENT;
    return OnBoard(pBoard, [&](CKelvardBoard& board) -> int {
        ConfigBlock config;
        std::copy(pConfig->direction, pConfig->direction + KELVARD_PORTS, config.byDir.begin());
        std::copy(pConfig->polarity, pConfig->polarity + KELVARD_POLARITY_PORTS,
                  config.byInv.begin());
        config.byAnalogCount = pConfig->analog_count;
        return board.ChangeConfig(config, nMask);
    });
}

KELVARD_API int kelvard_board_read_analog(kelvard_board* pBoard,
                                          uint16_t pReadings[KELVARD_ANALOG_CHANNELS],
                                          unsigned* pCount)
{
    if (!pReadings || !pCount)
        return KELVARD_ERR_ARGUMENT;
    return OnBoard(pBoard, [&](CKelvardBoard& board) -> int {
        std::array<std::uint16_t, ANALOG_CHANNELS> wReadings{};
        unsigned nCount = 0;
        const int nResult = board.ReadAnalog(wReadings, nCount);
        if (nResult == KELVARD_OK)
        {
            std::copy_n(wReadings.begin(), nCount, pReadings);
            *pCount = nCount;
        }
        return nResult;
    });
}

KELVARD_API int kelvard_board_add_field(kelvard_board* pBoard, const char* pszName,
                                        unsigned nStart, unsigned nWidth, int nInput)
{
    if (!pszName || !*pszName || nWidth == 0 || nStart >= VP_PIN_LIMIT ||
        nWidth > VP_PIN_LIMIT - nStart)
        return KELVARD_ERR_ARGUMENT;
    return OnBoard(pBoard, [&](CKelvardBoard& board) -> int {
        return board.AddField(pszName, nStart, nWidth, nInput != 0);
    });
}

KELVARD_API int kelvard_board_write_field(kelvard_board* pBoard, const char* pszName,
                                          uint32_t dwValue)
{
    if (!pszName)
        return KELVARD_ERR_ARGUMENT;
    return OnBoard(pBoard, [&](CKelvardBoard& board) { return board.WriteField(pszName, dwValue); });
}

KELVARD_API int kelvard_board_remove_field(kelvard_board* pBoard, const char* pszName)
{
    if (!pszName)
        return KELVARD_ERR_ARGUMENT;
    return OnBoard(pBoard, [&](CKelvardBoard& board) { return board.RemoveField(pszName); });
}

KELVARD_API int kelvard_watch_new(kelvard_watch** ppWatch)
{
    if (!ppWatch)
        return KELVARD_ERR_ARGUMENT;
    return Guarded([&]() -> int {
        auto pWatch = std::make_unique<kelvard_watch>(CDriverContext::Default());
        const int nResult = pWatch->wchBoards.Start();
        if (nResult == KELVARD_OK)
            *ppWatch = pWatch.release();
        return nResult;
    });
}

KELVARD_API int kelvard_watch_fd(const kelvard_watch* pWatch)
{
    return pWatch ? pWatch->wchBoards.Fd() : -1;
}

KELVARD_API int kelvard_watch_read(kelvard_watch* pWatch, kelvard_event* pEvent)
{
    if (!pWatch || !pEvent)
        return KELVARD_ERR_ARGUMENT;
    return pWatch->wchBoards.Read(*pEvent);
}

KELVARD_API int kelvard_watch_set_callback(kelvard_watch* pWatch,
                                           void (*pfnCallback)(kelvard_event, void*), void* pUser)
{
    if (!pWatch)
        return KELVARD_ERR_ARGUMENT;
    pWatch->wchBoards.SetCallback(pfnCallback, pUser);
    return KELVARD_OK;
}

KELVARD_API void kelvard_watch_free(kelvard_watch* pWatch)
{
    delete pWatch;
}

KELVARD_API int kelvard_use_backend(const char* pszName)
{
    if (!pszName)
        return KELVARD_ERR_ARGUMENT;
    return Guarded([&]() -> int {
        std::shared_ptr<CDriverContext> pContext;
        const std::string strName = pszName;
        if (strName == "libusb")
            pContext = CDriverContext::CreateLibusb();
        else if (strName == "sim")
        {
            std::string strError;
            pContext = CDriverContext::CreateSimulated(strError);
            if (!pContext)
                return KELVARD_ERR_NOT_FOUND;
        }
        else
            return KELVARD_ERR_ARGUMENT;
        return CDriverContext::SetDefault(std::move(pContext)) ? KELVARD_OK : KELVARD_ERR_BUSY;
    });
}

} // extern "C"
