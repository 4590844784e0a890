#pragma once
// The one read and write path of every settings document, driven by its descriptor
// (SettingsDocument.h), over the few steps only the device can take.

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "ApiResult.h"
#include "EncoderConfigFile.h"
#include "SettingsCheck.h"
#include "SettingsDocument.h"
#include "SettingsLimits.h"

namespace enc {

/// What a document's read and write need from the device: its settings, the save under the
/// file's lock, the media process's change codes, the input's frame rate and the board's sync.
/// The device handler implements it; the dispatcher's generic routes and the handler's own
/// setters call readDocument and writeDocument. All calls arrive on the web server's side, one
/// at a time.
class DocumentHost {
public:
    virtual ~DocumentHost() = default;

    /// The settings as the file holds them now (read again only when it changed).
    virtual EncoderConfigFile& currentSettings() = 0;
    /// Changes only the keys of the owned records, under the file's lock
    /// (EncoderConfigFile::update); false, logged, when nothing could be saved.
    virtual bool store(const std::vector<const void*>& owned,
                       const std::function<void()>& change) = 0;
    /// Tells the media process which settings changed.
    virtual void notify(int changeCode) = 0;
    /// The input's measured frame rate, for the clamps that follow it.
    virtual int inputFps() = 0;
    /// Flushes the storage, for files the boot scripts read.
    virtual void syncStorage() = 0;

    /// A document's records for index (SetterSteps::count of them, from SetterSteps::place or
    /// the document store); kApiFailed, out untouched, for an index the document refuses.
    template <class R>
    ApiResult readDocument(int index, R* out);

    /// The one setter path, by the document's SetterSteps: check, apply, save, boardWork (the
    /// setter's own, when given), change code, sync; the first step that fails ends it. in
    /// holds SetterSteps::count records. A refusal puts its reason in response.
    template <class R>
    ApiResult writeDocument(int index, const R* in, std::string& response,
                            const std::function<void()>& boardWork = nullptr);

private:
    template <class R>
    static R* placeOf(EncoderConfigFile& settings, int index) {
        if constexpr (isOneOf<R>(StoredDocuments{})) {
            return settings.stored<R>(index);
        } else {
            return documentOf<R>().set.place(settings, index);
        }
    }
};

template <class R>
ApiResult DocumentHost::readDocument(int index, R* out) {
    const R* placed = placeOf<R>(currentSettings(), index);
    if (placed == nullptr) {
        return kApiFailed;
    }
    std::copy(placed, placed + documentOf<R>().set.count, out);
    return kApiOk;
}

template <class R>
ApiResult DocumentHost::writeDocument(int index, const R* in, std::string& response,
                                      const std::function<void()>& boardWork) {
    const SetterSteps<R>& steps = documentOf<R>().set;
    EncoderConfigFile& settings = currentSettings();
    R* const placed = placeOf<R>(settings, index);
    if (placed == nullptr) {
        return kApiFailed;
    }
    std::vector<R> records(in, in + steps.count);
    for (const R& record : records) {
        std::string reason = refusedValue(record);
        if (reason.empty() && steps.check != nullptr) {
            reason = steps.check(record);
        }
        if (SettingsCheck::refused(reason, response)) {
            return kApiFailed;
        }
    }
    const int fps = followsInput<R>() ? inputFps() : 0;
    for (size_t k = 0; k < records.size(); ++k) {
        applyLimits(records[k], limitsOf<R>(clampInstance<R>(index, static_cast<int>(k)), fps));
        if (steps.adjust != nullptr) {
            steps.adjust(records[k]);
        }
    }
    if (steps.trace != nullptr) {
        std::printf(steps.trace, index);
        std::fflush(stdout);
    }
    std::vector<const void*> owned;
    for (int k = 0; k < steps.count; ++k) {
        owned.push_back(placed + k);
    }
    if (steps.alsoWrites != nullptr) {
        owned.push_back(steps.alsoWrites(settings, index));
    }
    const bool saved = store(owned, [&] {
        if (steps.store != nullptr) {
            steps.store(settings, index, records.front());
        } else {
            std::copy(records.begin(), records.end(), placed);
        }
    });
    if (!saved) {
        return kApiFailed;  // the media process reads the file: nothing new to tell it
    }
    if (boardWork) {
        boardWork();
    }
    const int code = steps.changeCode[index == 0 ? 0 : 1];
    if (code != 0) {
        notify(code);
    }
    if (steps.sync) {
        syncStorage();
    }
    return kApiOk;
}

}  // namespace enc
