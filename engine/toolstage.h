// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "codec/stage.h"
#include "engine/outcome.h" // Step
#include "platform/process.h"

#include <QList>
#include <QString>

#include <atomic>
#include <memory>

namespace vormelle::platform {
class MemoryFile;
}

namespace vormelle::engine {

inline constexpr char kBitonalEncoder[] = "cjb2";
inline constexpr char kPhotoEncoder[] = "c44";

// DjVuLibre's page encoders as a codec stage: each page added is encoded at once, 1-bit pages by
// `cjb2` (JB2, lossless), grey and colour ones by `c44` (IW44, colour planes full size), from a
// PBM/PGM/PPM held in a memory file the encoder reads through its descriptor, never from disk.
// The page file goes to the sink as a page file. It lives here, not in codec/, because it runs
// programs (runToEnd and the converters' environment are the engine's).
class ToolStage final : public codec::PageStage {
public:
    // Page files are written in `workFolder`; a raised `stop` kills the encoder in flight.
    ToolStage(QString workFolder, platform::EnvironmentChanges environment,
              const std::atomic<bool>* stop);
    ~ToolStage() override;

    std::uint8_t* pageMemory(const codec::PageView& shape) override;
    codec::Status addPage(const codec::PageView& page, codec::PageSink& sink,
                          const codec::AbortHook& abort) override;
    codec::Status finish(codec::PageSink& sink, const codec::AbortHook& abort) override;

    // Every encoder call so far, in order; the output only of one that failed.
    const QList<Step>& steps() const { return m_steps; }

private:
    QString m_workFolder;
    platform::EnvironmentChanges m_environment;
    const std::atomic<bool>* m_stop;
    std::unique_ptr<platform::MemoryFile> m_image; // the next page's, offered by pageMemory()
    qsizetype m_headerSize = 0;
    int m_pages = 0;
    QList<Step> m_steps;
};

} // namespace vormelle::engine
