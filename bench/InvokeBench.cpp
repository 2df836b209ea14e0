// Calls per second of a trivial method (GetCode) through the script host's
// path (names, VARIANTs, IDispatch::Invoke, the type information's coercion
// and the libffi call) against a direct call through the interface's table.
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <string>

#include "Automation.h"
#include "platform/win32.h"
#include "quillbay_i.h"

namespace {

IQuillDoc *g_doc = nullptr;
IDispatch *g_dispatch = nullptr;

void DirectVtableCall(benchmark::State &state) {
    int n = 0;
    for (auto _ : state) {
        g_doc->GetCode(0, 9, &n);
        benchmark::DoNotOptimize(n);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(DirectVtableCall);

void DispatchInvoke(benchmark::State &state) {
    VARIANT args[2];
    VariantInit(&args[0]);
    args[0].vt = VT_I4;
    args[0].lVal = 9;
    VariantInit(&args[1]);
    args[1].vt = VT_I4;
    args[1].lVal = 0;
    DISPPARAMS params{args, nullptr, 2, 0};
    VARIANT result;
    for (auto _ : state) {
        VariantInit(&result);
        g_dispatch->Invoke(14, GUID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
        benchmark::DoNotOptimize(result.intVal);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(DispatchInvoke);

void ScriptHostCall(benchmark::State &state) {
    DISPID id = 0;
    FindMember(g_dispatch, "GetCode", id);
    std::vector<ScriptValue> args(2);
    args[0].kind = args[1].kind = ScriptValue::Number;
    args[0].number = 0;
    args[1].number = 9;
    ScriptValue result;
    HRESULT failure = S_OK;
    for (auto _ : state) {
        CallMember(g_dispatch, id, args, result, failure);
        benchmark::DoNotOptimize(result.number);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(ScriptHostCall);

void ScriptHostCallByName(benchmark::State &state) {
    std::vector<ScriptValue> args(2);
    args[0].kind = args[1].kind = ScriptValue::Number;
    args[1].number = 9;
    ScriptValue result;
    HRESULT failure = S_OK;
    for (auto _ : state) {
        DISPID id = 0;
        FindMember(g_dispatch, "GetCode", id); // a script looks the name up on every call
        CallMember(g_dispatch, id, args, result, failure);
        benchmark::DoNotOptimize(result.number);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(ScriptHostCallByName);

} // namespace

int main(int argc, char **argv) {
    char home[] = "/tmp/quillbay-bench-XXXXXX";
    if (!mkdtemp(home))
        return 1;
    setenv("QUILLBAY_HOME", home, 1);
    setenv("QUILLBAY_MACHINE_HOME", (std::string(home) + "/machine").c_str(), 1);
    HMODULE module = LoadLibraryA(QUILLBAY_MODULE_PATH);
    auto reg = reinterpret_cast<LPFNREGISTERSERVER>(
        reinterpret_cast<void *>(GetProcAddress(module, "DllRegisterServer")));
    if (!reg || FAILED(reg()))
        return 1;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    std::string error;
    if (FAILED(CreateScriptableObject("Quillbay.QuillDoc", &g_dispatch, error)))
        return 1;
    g_dispatch->QueryInterface(IID_IQuillDoc, reinterpret_cast<void **>(&g_doc));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    g_doc->Release();
    g_dispatch->Release();
    CoUninitialize();
    std::string cleanup = std::string("rm -rf ") + home;
    return system(cleanup.c_str()) == 0 ? 0 : 0;
}
