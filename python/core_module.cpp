// quivrel._core: the compiled half of the Python package.  It hands a
// dataset (a file, or words that the Python layer encoded) to an in-process
// run and gives back the status, the failure text and the patterns as plain
// tuples; the Python layer (quivrel/__init__.py) turns them into labels and
// exceptions.
//
// The run goes on a worker thread while the calling thread, without the
// GIL, waits in short slices and lets Python handle its signals between
// them: Ctrl-C sets the run's cancel flag, the worker ends within one
// projection step, and KeyboardInterrupt is raised with the interpreter
// ready for the next call.
//
// Tested by python/tests/.
#include <pybind11/pybind11.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "driver/MiningRun.h"
#include "support/Global.h"
#include "support/SupportFraction.h"

namespace py = pybind11;

namespace {

// How long the calling thread waits between two looks at its signals.
const std::chrono::milliseconds kSignalSlice(50);

// Runs the request on a worker thread; returns the status, or throws
// error_already_set when a signal handler raised (KeyboardInterrupt).
int RunOnWorker(const MineRequest& base, MineResult* result) {
    std::atomic<bool> cancel{false};
    MineRequest request = base;
    request.cancel = &cancel;
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    int status = -1;
    bool raised = false;
    {
        py::gil_scoped_release release;
        std::thread worker([&] {
            int s = MinePatterns(request, result);
            std::lock_guard<std::mutex> hold(lock);
            status = s;
            done = true;
            finished.notify_one();
        });
        for (;;) {
            {
                std::unique_lock<std::mutex> hold(lock);
                if (finished.wait_for(hold, kSignalSlice, [&] { return done; })) break;
            }
            py::gil_scoped_acquire acquire;
            if (PyErr_CheckSignals() != 0) {
                raised = true;
                break;
            }
        }
        // A raised signal cancels the run; either way the worker is joined
        // before anything it uses goes out of scope.
        if (raised) cancel.store(true, std::memory_order_relaxed);
        worker.join();
    }
    if (raised) throw py::error_already_set();
    return status;
}

// (status, message, fault word or None, sequences, patterns), where each
// pattern is (itemsets as a tuple of tuples of codes, support).
py::tuple Mine(MineRequest& request, const std::string& support, long long supportCount) {
    if (supportCount > 0) {
        request.supportCount = supportCount;
    } else if (!ParseSupportFraction(support.c_str(), &request.support)) {
        throw py::value_error("support must be a fraction in (0, 1], not '" + support + "'");
    }
    MineResult result;
    int status = RunOnWorker(request, &result);
    py::list patterns;
    for (const ResultPattern& p : result.patterns) {
        py::tuple itemsets(p.itemsets.size());
        for (size_t i = 0; i < p.itemsets.size(); i++) {
            const std::vector<int>& set = p.itemsets[i];
            py::tuple items(set.size());
            for (size_t k = 0; k < set.size(); k++) items[k] = py::int_(set[k]);
            itemsets[i] = std::move(items);
        }
        patterns.append(py::make_tuple(std::move(itemsets), p.support));
    }
    py::object fault = result.faultWord >= 0 ? py::object(py::int_(result.faultWord)) : py::none();
    return py::make_tuple(status, result.message, fault, result.sequences, patterns);
}

}  // namespace

PYBIND11_MODULE(_core, m) {
    m.doc() = "Compiled core of quivrel: in-process mining runs.";
    m.attr("CANCELLED") = kMineCancelled;
    m.attr("OUT_OF_MEMORY") = kMineOutOfMemory;
    // The program's allocation failure, met outside a run (building the
    // result): MemoryError like any other.
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const RunAbort& abort) {
            PyErr_SetString(abort.outOfMemory ? PyExc_MemoryError : PyExc_RuntimeError,
                            "quivrel: the run ended early");
        }
    });

    m.def(
        "mine_file",
        [](const std::string& path, const std::string& support, long long supportCount,
           int itemcount, int threads) {
            MineRequest request;
            request.path = path.c_str();
            request.itemcount = itemcount;
            request.threads = threads;
            return Mine(request, support, supportCount);
        },
        py::arg("path"), py::arg("support"), py::arg("support_count"), py::arg("itemcount"),
        py::arg("threads"),
        "Mines the dataset file at `path`; support_count > 0 replaces the fraction.");

    m.def(
        "mine_words",
        [](const py::bytes& words, const std::string& name, const std::string& support,
           long long supportCount, int itemcount, int threads) {
            // A bytes object cannot change, and this one outlives the run,
            // which copies the words before mining them.
            char* data = nullptr;
            Py_ssize_t size = 0;
            if (PyBytes_AsStringAndSize(words.ptr(), &data, &size) != 0)
                throw py::error_already_set();
            if (size % 4 != 0) throw py::value_error("words must be whole 32-bit words");
            MineRequest request;
            request.words = reinterpret_cast<const int*>(data);
            request.wordCount = (size_t)size / 4;
            request.name = name.c_str();
            request.itemcount = itemcount;
            request.threads = threads;
            return Mine(request, support, supportCount);
        },
        py::arg("words"), py::arg("name"), py::arg("support"), py::arg("support_count"),
        py::arg("itemcount"), py::arg("threads"),
        "Mines dataset words (native 32-bit integers) held in a bytes object.");
}
