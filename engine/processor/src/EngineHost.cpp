#include "engine/EngineHost.h"

void CopyEngineProfile(const CProfile& p, CEngineProfile& out)
{
    out.MotionType = p.MotionType;
    out.Smoothing = p.Smoothing;
    out.TrueView = p.TrueView;
    out.ImagerSmoothing = p.ImagerSmoothing;
    out.ImagerThreshold = p.ImagerThreshold;
    out.ImagerParamA = p.ImagerParamA;
    out.ImagerParamB = p.ImagerParamB;
    out.SixDofSmoothing = p.SixDofSmoothing;
    out.SixDofParamA = p.SixDofParamA;
    out.SixDofParamB = p.SixDofParamB;
    for (std::size_t i = 0; i < out.Axes.size(); ++i) {
        const CProfileAxis& a = p.Axes[i];
        out.Axes[i].Enabled = a.Enabled;
        out.Axes[i].Inverted = a.Inverted;
        for (int k = 0; k < kCurveKnotCount; ++k)
            out.Axes[i].Table[static_cast<std::size_t>(k)] = a.CurveTable[k];
    }
}

CEngineLimits FullRangeLimits()
{
    CEngineLimits l{};
    for (auto& a : l) {
        a.Min = -16383.0f;
        a.Max = 16383.0f;
        a.Supported = 1;
    }
    return l;
}

void CopyEngineLimits(const CGameInfo& game, CEngineLimits& out)
{
    out = game.Limits;
}
