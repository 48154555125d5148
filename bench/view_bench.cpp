// The view's tools on a large model: a frame while a move drag runs, a
// pick, a drop-plane hover and automatic support generation. Needs an X
// display (scripts/xvfb-test.sh build/view_bench). The model is
// $TESSAVO_BENCH_MODEL when set (an STL or OBJ file), else a generated
// bumpy sphere of about 160k triangles.
#include "scene/fileops.h"
#include "scene/project.h"
#include "view/glviewer.h"

#include <QApplication>
#include <QMouseEvent>
#include <benchmark/benchmark.h>
#include <cmath>
#include <memory>

namespace {

// n x n quads over a sphere of radius r with a ripple, about 2 n^2 triangles.
Faces bumpySphere(int n, float r)
{
    auto at = [&](int i, int j) {
        const double th = M_PI * i / n, ph = 2 * M_PI * j / n;
        const double rr = r * (1 + 0.03 * std::sin(7 * th) * std::cos(9 * ph));
        return Vec3(float(rr * std::sin(th) * std::cos(ph)), float(rr * std::cos(th)),
                    float(rr * std::sin(th) * std::sin(ph)));
    };
    Faces f;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            const Vec3 a = at(i, j), b = at(i + 1, j), c = at(i + 1, j + 1), d = at(i, j + 1);
            f.append(a, c, b);
            f.append(a, d, c);
        }
    return f;
}

struct Fixture {
    Project project;
    FileOps fileOps{".tvprj", "Tessavo project",
                    [this](int code, QByteArray &buf) {
                        if (code == FileOps::SaveSnapshot)
                            buf = project.saveToStr(true);
                        else if (code == FileOps::LoadSnapshot)
                            project.loadFromStr(buf, true);
                    },
                    nullptr};
    GlViewer view;
    Obj *obj = nullptr;

    Fixture()
    {
        const QByteArray model = qgetenv("TESSAVO_BENCH_MODEL");
        if (!model.isEmpty())
            obj = project.addObject(QString::fromLocal8Bit(model), true);
        else
            obj = project.addObject(bumpySphere(283, 50), "sphere", true);
        view.project = &project;
        view.tools().fileOps = &fileOps;
        view.resize(1280, 800);
        view.show();
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents();
        view.repaint();
    }
    QPoint centre() const
    {
        const Vec3 c = obj->sceneBox().center();
        return view.projectToScreen(QVector3D(c.x, c.y, c.z)).toPoint();
    }
    void send(QEvent::Type t, QPoint p, Qt::MouseButton b, Qt::MouseButtons bs)
    {
        QMouseEvent e(t, p, view.mapToGlobal(p), b, bs, Qt::NoModifier);
        QApplication::sendEvent(&view, &e);
    }
};

std::unique_ptr<Fixture> g_fixture; // made on first use, gone before the application

Fixture &fixture()
{
    if (!g_fixture)
        g_fixture.reset(new Fixture);
    return *g_fixture;
}

// Argument: multisampling (samples per pixel, 0 = off).
void BM_FrameIdle(benchmark::State &state)
{
    Fixture &f = fixture();
    f.view.setTool(EM_Select);
    f.view.renderer.samples = int(state.range(0));
    f.view.repaint();
    for (auto _ : state)
        f.view.repaint();
    f.view.renderer.samples = 0;
    state.counters["triangles"] = f.obj->mesh->count();
    state.counters["renderUs"] = double(f.view.renderer.timeRenderUs);
    state.counters["readUs"] = double(f.view.renderer.timeReadUs);
}
BENCHMARK(BM_FrameIdle)->Arg(0)->Arg(4)->Unit(benchmark::kMillisecond)->MinTime(3)->UseRealTime();

// One step of a move drag and the frame that shows it; argument as above.
void BM_MoveDragFrame(benchmark::State &state)
{
    Fixture &f = fixture();
    f.view.renderer.samples = int(state.range(0));
    f.view.setTool(EM_Move);
    const QPoint c = f.centre();
    f.send(QEvent::MouseMove, c, Qt::NoButton, Qt::NoButton);
    f.send(QEvent::MouseButtonPress, c, Qt::LeftButton, Qt::LeftButton);
    int i = 0;
    for (auto _ : state) {
        f.send(QEvent::MouseMove, c + QPoint(10 + (i++ % 40), 5), Qt::NoButton, Qt::LeftButton);
        f.view.repaint();
    }
    f.send(QEvent::MouseButtonRelease, c, Qt::LeftButton, Qt::NoButton);
    f.view.renderer.samples = 0;
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MoveDragFrame)->Arg(0)->Arg(4)->Unit(benchmark::kMillisecond)->MinTime(3)->UseRealTime();

void BM_Pick(benchmark::State &state)
{
    Fixture &f = fixture();
    const QPoint c = f.centre();
    int hits = 0;
    for (auto _ : state)
        hits += f.view.pickAt(c.x(), c.y()).kind == PickHit::Object;
    if (hits != int(state.iterations()))
        state.SkipWithError("the pick missed the object");
}
BENCHMARK(BM_Pick)->Unit(benchmark::kMillisecond)->MinTime(2)->UseRealTime();

// Pointer over the model in the drop-plane tool: pick, ray, face search.
void BM_DropPlaneHover(benchmark::State &state)
{
    Fixture &f = fixture();
    f.view.setTool(EM_DropPlane);
    const QPoint c = f.centre();
    int i = 0;
    for (auto _ : state)
        f.send(QEvent::MouseMove, c + QPoint(i++ % 30, 0), Qt::NoButton, Qt::NoButton);
    f.view.setTool(EM_Select);
}
BENCHMARK(BM_DropPlaneHover)->Unit(benchmark::kMillisecond)->MinTime(2)->UseRealTime();

void BM_AutoGenerateSupport(benchmark::State &state)
{
    Fixture &f = fixture();
    f.view.tools().settings.barSize = 2;
    f.view.tools().settings.steepness = 45;
    int progressCalls = 0;
    QObject::connect(&f.view.tools(), &ViewTools::progressChanged, [&](int p) { progressCalls += p > 0; });
    int bars = 0;
    for (auto _ : state) {
        f.project.clearBars();
        f.view.tools().generateSupport();
        bars = f.project.bars.size();
    }
    state.counters["bars"] = bars;
    state.counters["progressReports"] = double(progressCalls) / double(state.iterations());
}
BENCHMARK(BM_AutoGenerateSupport)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    g_fixture.reset();
    return 0;
}
