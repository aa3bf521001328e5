"""Lo de dentro del módulo velantro: la biblioteca de puerto (libportio.so) de
una carpeta de programa, cargada con ctypes, y las secuencias de registros que
pide la placa. Los programas usan velantro.Semaforo, no esto."""
import ctypes
import os
import threading

# Los tres registros del puerto paralelo (portio.h).
DATOS, ESTADO, CONTROL = 888, 889, 890
# El registro de control: 7 mientras se escriben los datos (la placa los toma
# con el pin 16 alto); 3 y 1 ponen el primer y el segundo grupo de entradas en
# el registro de estado.
CONTROL_ESCRIBIR, CONTROL_GRUPO1, CONTROL_GRUPO2 = 7, 3, 1

# Cada placa, con su carpeta de programa y lo que es, para los mensajes.
PLACAS = {
    "simulada": ("simulado", "la placa simulada"),
    "real": ("real", "el puerto paralelo de verdad"),
}


class ErrorDePlaca(Exception):
    """No se llega a la placa: falta la biblioteca, o una escritura o una
    lectura ha fallado. El texto dice qué y, cuando la biblioteca lo sabe, por
    qué (el de PortError)."""


def elige_placa(placa):
    """La placa pedida: el argumento, si no la variable VELANTRO_PLACA, si no la
    simulada."""
    if placa is None:
        placa = os.environ.get("VELANTRO_PLACA") or "simulada"
        origen = "la variable de entorno VELANTRO_PLACA"
    else:
        origen = "placa"
    if not isinstance(placa, str) or placa not in PLACAS:
        raise ValueError(f"{origen} tiene que ser «simulada» o «real», no {placa!r}")
    return placa


def carpetas():
    """Dónde están las carpetas de programa: VELANTRO_CARPETAS; si no, junto al
    módulo instalado (<prefijo>/lib/velantro, para cmake --install --prefix);
    si no, las del paquete."""
    puesta = os.environ.get("VELANTRO_CARPETAS")
    if puesta:
        return [puesta]
    # <prefijo>/lib/python3/dist-packages/velantro/_puerto.py
    lib = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(
        os.path.abspath(__file__)))))
    junto = os.path.join(lib, "velantro")
    return [junto] if junto == "/usr/lib/velantro" else [junto, "/usr/lib/velantro"]


def _carga(ruta):
    biblioteca = ctypes.CDLL(ruta)
    for nombre, argumentos in (("PortOut", [ctypes.c_int, ctypes.c_int]),
                               ("PortIn", [ctypes.c_int])):
        funcion = getattr(biblioteca, nombre)
        funcion.argtypes = argumentos
        funcion.restype = ctypes.c_int
    try:
        biblioteca.PortError.argtypes = []
        biblioteca.PortError.restype = ctypes.c_char_p
    except AttributeError:
        pass  # opcional: sin ella, los fallos no dicen el motivo
    return biblioteca


# Una biblioteca por archivo y un cerrojo con ella: los Semaforo de un programa
# sobre la misma placa comparten registros, y una secuencia (control y datos,
# control y estado) no se corta con la de otro hilo, como el parpadeo.
_cargadas = {}
_cerrojo_cargas = threading.Lock()


class Puerto:
    """La biblioteca de puerto de una placa, con sus secuencias de registros."""

    def __init__(self, placa):
        carpeta, self.descripcion = PLACAS[placa]
        rutas = [os.path.join(c, carpeta, "libportio.so") for c in carpetas()]
        ruta = next((r for r in rutas if os.path.exists(r)), None)
        if ruta is None:
            raise ErrorDePlaca(
                f"no está la biblioteca de {self.descripcion} ({' ni '.join(rutas)}): "
                "¿está instalado Velantro? La variable VELANTRO_CARPETAS dice dónde están "
                "sus carpetas de programa")
        with _cerrojo_cargas:
            if ruta not in _cargadas:
                try:
                    _cargadas[ruta] = (_carga(ruta), threading.RLock())
                except (OSError, AttributeError) as error:
                    raise ErrorDePlaca(
                        f"no se puede cargar la biblioteca de {self.descripcion} ({ruta}): "
                        f"{error}") from None
            self._biblioteca, self.cerrojo = _cargadas[ruta]
        self.ruta = ruta

    def _falla(self, que):
        motivo = ""
        if hasattr(self._biblioteca, "PortError"):
            motivo = (self._biblioteca.PortError() or b"").decode("utf-8", "replace")
        raise ErrorDePlaca(f"{que}: {motivo or 'la biblioteca no da el motivo'}")

    def escribe(self, registro, valor):
        if self._biblioteca.PortOut(registro, valor) == -1:
            self._falla(f"no se puede escribir {valor} en el registro {registro} "
                        f"({self.descripcion})")

    def lee(self, registro):
        valor = self._biblioteca.PortIn(registro)
        if valor == -1:
            self._falla(f"no se puede leer el registro {registro} ({self.descripcion})")
        return valor

    def pon_salidas(self, valor):
        """Pone un valor en las salidas de la placa: control 7 y luego los
        datos, siempre juntos."""
        with self.cerrojo:
            self.escribe(CONTROL, CONTROL_ESCRIBIR)
            self.escribe(DATOS, valor)

    def lee_grupo(self, control):
        """Un grupo de entradas: el control que lo elige y luego el estado. Los
        bits 3 a 6 del estado, invertidos: la placa dice «sí» con una línea
        baja."""
        with self.cerrojo:
            self.escribe(CONTROL, control)
            estado = self.lee(ESTADO)
        return ~(estado >> 3) & 15
