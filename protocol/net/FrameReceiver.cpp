#include "protocol/net/FrameReceiver.h"

#include "protocol/net/Frames.h"

#include <algorithm>
#include <cstring>

std::size_t CFrameReceiver::Take(const std::uint8_t* pData, std::size_t nLength)
{
    std::size_t nTaken = 0;
    while (nTaken < nLength && !m_bComplete)
    {
        if (m_nReceived < NET_HEADER_SIZE)
        {
            if (!m_pFrame)
            {
                m_pFrame = std::make_unique<std::uint8_t[]>(NET_HEADER_SIZE);
                m_nCapacity = NET_HEADER_SIZE;
                m_nWanted = NET_HEADER_SIZE;
            }
            nTaken += Receive(pData + nTaken, nLength - nTaken);
            if (m_nWanted > 0)
                continue;
            const int nFrameLength = m_pFrame[1];
            if (nFrameLength < NET_HEADER_SIZE)
            {
                // Not a frame: the next byte is read as the start of a new header.
                ++m_nDiscarded;
                Reset();
                continue;
            }
            if (nFrameLength == m_nReceived)
            {
                m_bComplete = true;
                break;
            }
            auto pWhole = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(nFrameLength));
            std::memcpy(pWhole.get(), m_pFrame.get(), NET_HEADER_SIZE);
            m_pFrame = std::move(pWhole);
            m_nCapacity = nFrameLength;
            m_nWanted = nFrameLength - NET_HEADER_SIZE;
            continue;
        }
        nTaken += Receive(pData + nTaken, nLength - nTaken);
        if (m_nWanted == 0)
            m_bComplete = true;
    }
    return nTaken;
}

std::size_t CFrameReceiver::Receive(const std::uint8_t* pData, std::size_t nLength)
{
    const std::size_t nCount = std::min(nLength, static_cast<std::size_t>(m_nWanted));
    std::memcpy(m_pFrame.get() + m_nReceived, pData, nCount);
    m_nReceived += static_cast<int>(nCount);
    m_nWanted -= static_cast<int>(nCount);
    return nCount;
}

void CFrameReceiver::Reset()
{
    m_pFrame.reset();
    m_nReceived = 0;
    m_nWanted = 0;
    m_nCapacity = 0;
    m_bComplete = false;
}
