#include "batch/job_context.h"

#include "engines/delay_compensation.h"
#include "engines/engine_factory.h"

namespace sonteva {

JobEngines makeJobEngines(const JobContext& ctx, int channels) {
    const ConversionJob& job = ctx.job;
    const int64_t fsIn = ctx.plan.source.fsIn;
    JobEngines out;
    for (int c = 0; c < channels; ++c) {
        ChosenEngine chosen = makeExportResampler(job.quality.toStdString(), fsIn, job.targetFs);
        if (c == 0) {
            out.ran = chosen.ran;
            if (!chosen.substitution.empty())
                ctx.notes.substitute(QString::fromStdString(chosen.substitution));
        }
        std::unique_ptr<ResamplerCore> engine = std::move(chosen.engine);
        if (job.compensateDelay && fsIn != job.targetFs)
            engine = std::make_unique<DelayCompensated>(std::move(engine), fsIn, job.targetFs);
        out.engines.push_back(std::move(engine));
    }
    if (!out.engines.empty()) out.latency = out.engines.front()->latencyFrames();
    return out;
}

} // namespace sonteva
