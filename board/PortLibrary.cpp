#include "PortLibrary.h"

#include "Module1_Velantro.h"
#include "ProgramDirectory.h"
#include "portio.h"

#include <dlfcn.h>

namespace Module1_Velantro {

namespace {

// The library's functions as portio.h declares them. The global ones, not this
// namespace's PortOut and PortIn, which wrap them.
using PortOutFunction = decltype(&::PortOut);
using PortInFunction = decltype(&::PortIn);
using PortErrorFunction = decltype(&::PortError);

struct Binding {
    std::string path;
    void* handle = nullptr;
    PortOutFunction portOut = nullptr;
    PortInFunction portIn = nullptr;
    PortErrorFunction portError = nullptr;
    bool portErrorLooked = false;

    void Unload() {
        if (handle != nullptr) {
            ::dlclose(handle);
        }
        handle = nullptr;
        portOut = nullptr;
        portIn = nullptr;
        portError = nullptr;
        portErrorLooked = false;
    }
};

Binding& TheBinding() {
    static Binding binding;
    return binding;
}

const std::string& BoundPath() {
    Binding& binding = TheBinding();
    if (binding.path.empty()) {
        binding.path = PortLibraryPath();
    }
    return binding.path;
}

std::string DlError() {
    const char* reason = ::dlerror();
    return reason != nullptr ? reason : "motivo desconocido";
}

void* Handle() {
    Binding& binding = TheBinding();
    if (binding.handle == nullptr) {
        binding.handle = ::dlopen(BoundPath().c_str(), RTLD_NOW | RTLD_LOCAL);
        if (binding.handle == nullptr) {
            throw PortLibraryError("No se puede cargar la biblioteca de puertos " + binding.path +
                                   ": " + DlError());
        }
    }
    return binding.handle;
}

template <typename Function> Function Lookup(Function& slot, const char* name) {
    if (slot == nullptr) {
        void* handle = Handle();
        ::dlerror();
        slot = reinterpret_cast<Function>(::dlsym(handle, name));
        if (slot == nullptr) {
            throw PortLibraryError("La biblioteca de puertos " + TheBinding().path +
                                   " no tiene la función " + name + ": " + DlError());
        }
    }
    return slot;
}

// The library's own reason for its last failure. PortError is optional in the
// sense that a library without it still gets a clear message.
std::string LibraryReason() {
    Binding& binding = TheBinding();
    if (!binding.portErrorLooked) {
        binding.portError =
            reinterpret_cast<PortErrorFunction>(::dlsym(binding.handle, "PortError"));
        binding.portErrorLooked = true;
    }
    const char* reason = binding.portError != nullptr ? binding.portError() : nullptr;
    return reason != nullptr && *reason != '\0' ? reason : "la biblioteca no dice el motivo";
}

const char* RegisterName(int port) {
    switch (port) {
    case DataPort:
        return " (datos)";
    case StatusPort:
        return " (estado)";
    case ControlPort:
        return " (control)";
    default:
        return "";
    }
}

} // namespace

std::string PortLibraryPath() {
    const std::string& directory = ProgramDirectory();
    return directory + "/libportio.so";
}

void PortOut(int port, int value) {
    PortOutFunction function = Lookup(TheBinding().portOut, "PortOut");
    if (function(port, value) == -1) {
        throw PortLibraryError("No se puede escribir el valor " + std::to_string(value) +
                               " en el registro " + std::to_string(port) + RegisterName(port) +
                               " del puerto paralelo: " + LibraryReason());
    }
}

int PortIn(int port) {
    PortInFunction function = Lookup(TheBinding().portIn, "PortIn");
    const int value = function(port);
    if (value == -1) {
        throw PortLibraryError("No se puede leer el registro " + std::to_string(port) +
                               RegisterName(port) + " del puerto paralelo: " + LibraryReason());
    }
    return value;
}

void BindPortLibrary(const std::string& path) {
    Binding& binding = TheBinding();
    binding.Unload();
    binding.path = path;
}

} // namespace Module1_Velantro
