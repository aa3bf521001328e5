#include "messages.h"

#include "parport_device.h"

#include <cerrno>
#include <cstring>
#include <linux/major.h>
#include <sys/sysmacros.h>

namespace parport {
namespace {

// strerror_r comes in two flavours depending on the feature macros in force:
// the GNU one returns the text, the XSI one fills the buffer. Both are
// thread-safe, unlike strerror.
[[maybe_unused]] const char* ErrorText(const char* gnuResult, const char*) {
    return gnuResult;
}
[[maybe_unused]] const char* ErrorText(int xsiResult, const char* buffer) {
    return xsiResult == 0 ? buffer : "error desconocido";
}

std::string SystemErrorText(int err) {
    char buffer[128] = {};
    return ErrorText(strerror_r(err, buffer, sizeof buffer), buffer);
}

std::string OperationOn(Stage stage, const char* operation, const std::string& device) {
    if (stage == Stage::Open) {
        return "la apertura del puerto paralelo " + device;
    }
    return std::string(operation) + " sobre el puerto paralelo " + device;
}

} // namespace

std::string DeviceFailure(Stage stage, const char* operation, const std::string& device, int err) {
    // Without ppdev there is no /dev/parportN (ENOENT), or the node is left
    // over and has no driver behind it (ENXIO, ENODEV).
    if (stage == Stage::Open && (err == ENOENT || err == ENXIO || err == ENODEV)) {
        return "No se encuentra el puerto paralelo " + device +
               ". Cargue los módulos con «modprobe -a parport_pc ppdev» (como administrador) o "
               "active el puerto paralelo en la BIOS. Un adaptador USB de impresora no sirve: "
               "no da acceso a los registros del puerto.";
    }
    if (err == EACCES || err == EPERM) {
        return "No tiene permiso para usar el puerto paralelo " + device +
               ". Añada su usuario al grupo lp («adduser USUARIO lp», como administrador) y "
               "vuelva a iniciar sesión.";
    }
    if (err == EINTR) {
        return "Una señal interrumpió " + OperationOn(stage, operation, device) +
               ". Vuelva a intentarlo.";
    }
    return "Falló " + OperationOn(stage, operation, device) + ": " + SystemErrorText(err) +
           " (errno " + std::to_string(err) +
           "). Compruebe el puerto paralelo y su tarjeta y vuelva a intentarlo.";
}

std::string PortBusy(const std::string& device, const PortHolder& holder) {
    const std::string busy = "El puerto paralelo " + device + " está ocupado por ";
    switch (holder.kind) {
    case PortHolder::Kind::NoPort:
        return DeviceFailure(Stage::Open, "", device, ENXIO);
    case PortHolder::Kind::Program:
        if (holder.pid != 0) {
            return busy + "otro programa: " + holder.name + " (proceso " +
                   std::to_string(holder.pid) + "). Ciérrelo y vuelva a intentarlo.";
        }
        return busy + "otro programa, quizá de otro usuario (no se puede saber cuál). Cierre el "
                      "programa que lo usa (otra consola Velantro, «velantro-sonda --continuo») y "
                      "vuelva a intentarlo.";
    case PortHolder::Kind::PrinterDriver:
        return busy +
               "el controlador de impresora (lp). Descárguelo ahora con «rmmod lp» (como "
               "administrador) y vuelva a intentarlo. Para que no se cargue más al arrancar, cree "
               "el archivo /etc/modprobe.d/velantro-sin-lp.conf con la línea «blacklist lp».";
    case PortHolder::Kind::OtherDriver:
        return busy + "otro controlador del núcleo («" + holder.name +
               "»). Descárguelo (como administrador) y vuelva a intentarlo.";
    case PortHolder::Kind::Nobody:
        break;
    }
    return "No se pudo reservar el puerto paralelo " + device +
           ", aunque ahora no hay nada registrado en él: quizá otro programa acaba de soltarlo. "
           "Vuelva a intentarlo.";
}

std::string NotAParallelPort(const std::string& device, const struct stat& info) {
    std::string what;
    if (S_ISCHR(info.st_mode)) {
        what = "el dispositivo de caracteres " + std::to_string(major(info.st_rdev)) + ":" +
               std::to_string(minor(info.st_rdev)) + ", de otro controlador";
    } else if (S_ISBLK(info.st_mode)) {
        what = "un dispositivo de bloques";
    } else if (S_ISREG(info.st_mode)) {
        what = "un archivo normal";
    } else if (S_ISDIR(info.st_mode)) {
        what = "una carpeta";
    } else if (S_ISFIFO(info.st_mode)) {
        what = "una tubería (FIFO)";
    } else {
        what = "otra clase de archivo";
    }
    return "La ruta " + device + " no es un puerto paralelo: es " + what +
           ". Se esperaba un dispositivo de caracteres del controlador ppdev (número principal " +
           std::to_string(PP_MAJOR) + "), como /dev/parport0. No se ha abierto.";
}

std::string ControlValueRefused(int value) {
    return "El valor " + std::to_string(value) + " no es válido para el registro de control (" +
           std::to_string(ControlRegister) +
           "): solo se escriben los bits 0 a 3 (valores de 0 a 15). Los bits 4 a 7 no son "
           "salidas y el núcleo invertiría el sentido de las líneas de datos. No se ha escrito "
           "nada.";
}

std::string StatusIsReadOnly() {
    return "El registro de estado (" + std::to_string(StatusRegister) +
           ") es de solo lectura: no se puede escribir en él. No se ha escrito nada.";
}

std::string UnknownRegister(int port) {
    return "El puerto " + std::to_string(port) +
           " no es un registro del puerto paralelo. Los registros son " +
           std::to_string(DataRegister) + " (datos), " + std::to_string(StatusRegister) +
           " (estado) y " + std::to_string(ControlRegister) + " (control).";
}

std::string InternalFailure(const char* what) {
    return std::string("Error interno de la biblioteca del puerto paralelo: ") + what + ".";
}

} // namespace parport
