// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "codec/iff.h"
#include "codec/stage.h"
#include "engine/outcome.h" // Step
#include "engine/route.h"   // ColourPages
#include "platform/process.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>

namespace vormelle::platform {
class MemoryFile;
}

namespace vormelle::engine {

struct Command;

inline constexpr char kBitonalEncoder[] = "cjb2";
inline constexpr char kPhotoEncoder[] = "c44";
inline constexpr char kAssembler[] = "djvumake";
// The codec's JB2 coder, as the direct route's steps name it.
inline constexpr char kBitonalCoder[] = "JB2 coder";

// Writes an IFF form (a page, a shared component) to `path`; false on any failure.
bool writeDjvuFile(const QString& path, const codec::Chunk& form);

// DjVuLibre's page encoders as a codec stage: each page added is encoded at once, 1-bit pages by
// `cjb2` (JB2, lossless), from a PBM/PGM/PPM held in a memory file the encoder reads through its
// descriptor, never from disk. Grey and colour pages, with ColourPages::Compound, are segmented
// (codec/segment.h): a page with text becomes a compound page, its mask coded by the codec's JB2
// coder, a colour per mask shape (FGbz) and a reduced background (codec/layers.h) coded by `c44`
// with the hidden pixels as don't-care; a page without text, and every one with
// ColourPages::Layer, goes to `c44` (IW44, colour planes full size) as one layer. The page file
// goes to the sink as a page file. It lives here, not in codec/, because it runs programs (runToEnd
// and the converters' environment are the engine's).
class ToolStage final : public codec::PageStage {
public:
    // Page files are written in `workFolder`; a raised `stop` kills the encoder in flight.
    ToolStage(QString workFolder, platform::EnvironmentChanges environment,
              const std::atomic<bool>* stop, ColourPages colourPages = ColourPages::Layer,
              bool lossyMask = false);
    ~ToolStage() override;

    std::uint8_t* pageMemory(const codec::PageView& shape) override;
    // The memory file pageMemory() offered, for another reader of the same pixels.
    const platform::MemoryFile* pageFile() const { return m_image.get(); }
    codec::Status addPage(const codec::PageView& page, codec::PageSink& sink,
                          const codec::AbortHook& abort) override;
    codec::Status finish(codec::PageSink& sink, const codec::AbortHook& abort) override;

    // Every encoder call so far, in order; the output only of one that failed.
    const QList<Step>& steps() const { return m_steps; }
    // Per page added, how it was coded and what each layer cost, for the run log.
    const QStringList& profiles() const { return m_profiles; }

private:
    // Runs one encoder that is to write `file`; its step is kept.
    codec::Status run(const char* tool, Command command, const QString& file,
                      const codec::PageView& page);
    // `photoPbm`: the photographs found (may be empty); `textOnly`: the page holds neither
    // photograph nor colour, and its background is coded more coarsely.
    codec::Status assemble(const codec::PageView& page, const QByteArray& maskPbm,
                           const QByteArray& photoPbm, bool textOnly, const QString& file,
                           const codec::AbortHook& abort);
    codec::Status assembleTiny(const codec::PageView& page, const QByteArray& maskPbm,
                               const platform::MemoryFile& image, const QString& file);

    QString m_workFolder;
    platform::EnvironmentChanges m_environment;
    const std::atomic<bool>* m_stop;
    std::unique_ptr<platform::MemoryFile> m_image; // the next page's, offered by pageMemory()
    qsizetype m_headerSize = 0;
    int m_pages = 0;
    ColourPages m_colourPages;
    bool m_lossyMask = false; // compound masks drawn with twin shapes as one (codec/jb2lossy.h)
    QList<Step> m_steps;
    QStringList m_profiles;
};

} // namespace vormelle::engine
