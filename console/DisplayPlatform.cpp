#include "DisplayPlatform.h"

#include <QByteArray>
#include <cstdlib>

namespace {

// A variable's value; empty when it is not set.
std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// The plugin a platform value names: "xcb" of "xcb:option=value".
std::string PluginOf(const std::string& platform) {
    return platform.substr(0, platform.find(':'));
}

bool IsWayland(const std::string& plugin) {
    return plugin.rfind("wayland", 0) == 0;
}

// What keeps the display of an X11 or Wayland platform from opening.
std::string DisplayCause(const char* variable, const char* kind) {
    const std::string display = Variable(variable);
    if (display.empty()) {
        return std::string("la variable ") + variable + " está vacía";
    }
    return std::string("la pantalla ") + kind + "«" + display + "» (variable " + variable +
           ") no acepta la conexión";
}

} // namespace

DisplayPlatform ChooseDisplayPlatform() {
    DisplayPlatform platform{Variable("QT_QPA_PLATFORM"), true};
    if (!platform.name.empty()) {
        return platform;
    }
    platform.explicitly = false;
    if (!Variable("DISPLAY").empty()) {
        platform.name = "xcb";
    } else if (!Variable("WAYLAND_DISPLAY").empty()) {
        platform.name = "wayland";
    } else {
        return platform; // nothing to open: Qt's default says so
    }
    qputenv("QT_QPA_PLATFORM", QByteArray::fromStdString(platform.name));
    return platform;
}

std::string NoDisplayReport(const DisplayPlatform& platform, bool pluginMissing) {
    const std::string plugin = PluginOf(platform.name);
    const bool x11 = plugin == "xcb";
    const bool wayland = IsWayland(plugin);
    const bool list = platform.name.find(';') != std::string::npos;
    // Of Qt's platforms, only the native Wayland one comes in a package of
    // its own.
    const std::string package = wayland ? " (paquete qt6-wayland)" : "";
    if (platform.explicitly && (list || pluginMissing || !(x11 || wayland))) {
        return "velantro: No se puede abrir la ventana: la plataforma gráfica «" + platform.name +
               "» (variable QT_QPA_PLATFORM) " +
               (pluginMissing && !list ? "no está instalada en este equipo" + package + ".\n"
                                       : "no arranca en esta sesión.\n");
    }
    if (pluginMissing && !platform.name.empty()) {
        return "velantro: No se puede abrir la ventana: la pantalla «" +
               Variable(x11 ? "DISPLAY" : "WAYLAND_DISPLAY") +
               "» necesita la plataforma gráfica «" + platform.name +
               "» de Qt, que no está instalada" + package + ".\n";
    }
    std::string cause;
    if (x11) {
        cause = DisplayCause("DISPLAY", "");
    } else if (wayland) {
        cause = DisplayCause("WAYLAND_DISPLAY", "Wayland ");
    } else {
        cause = "las variables DISPLAY y WAYLAND_DISPLAY están vacías";
    }
    const std::string asked = platform.explicitly ? " para la plataforma «" + platform.name +
                                                        "» (variable QT_QPA_PLATFORM)"
                                                  : "";
    return "velantro: No se ha encontrado ninguna pantalla gráfica" + asked + ": " + cause +
           ". Arranque la consola desde el escritorio.\n";
}

std::string NoScreenReport(const DisplayPlatform& platform, const std::string& started,
                           int screens) {
    std::string cause;
    if (started == "vkkhrdisplay") {
        // Its screen takes Vulkan surfaces only, and the console draws none.
        cause = "solo muestra ventanas de Vulkan, que la consola no usa";
    } else if (screens > 0) {
        return "";
    } else if (started == "linuxfb") {
        cause = "no ofrece ninguna pantalla: no hay ningún framebuffer que pueda abrir";
    } else {
        cause = "no ofrece ninguna pantalla";
    }
    const std::string asked = platform.explicitly
                                  ? "«" + platform.name + "» (variable QT_QPA_PLATFORM)"
                                  : "«" + started + "»";
    return "velantro: No se puede abrir la ventana: la plataforma gráfica " + asked +
           " arranca, pero " + cause + ".\n";
}
