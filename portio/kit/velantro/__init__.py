"""velantro: el semáforo de la placa Velantro desde Python, con las lámparas por
su nombre.

    from velantro import Semaforo

    semaforo = Semaforo()              # la placa simulada
    semaforo.rojo.encender()
    print(semaforo.lampara())          # «rojo»: lo que dice la placa
    semaforo.ambar.parpadear()         # en segundo plano
    semaforo.esperar(5)
    semaforo.apagar()

Semaforo(placa="real"), o la variable de entorno VELANTRO_PLACA=real, usa el
puerto paralelo de verdad. El módulo escribe en la placa las secuencias de
registros que pide (el control 7 antes de cada escritura de datos, el grupo
antes de cada lectura, el bit del modo manual con las lámparas), y todo fallo
es un ErrorDePlaca que dice qué ha fallado y por qué. «man 3 velantro» lo
cuenta todo.
"""
import atexit
import math
import threading
import weakref

from velantro._puerto import CONTROL_GRUPO1, CONTROL_GRUPO2, ErrorDePlaca, Puerto, elige_placa

__all__ = ["Semaforo", "Lampara", "ErrorDePlaca"]

# El registro de datos: bits 0 a 2 las lámparas, 3 el modo manual, 4 el
# autónomo.
_MANUAL, _AUTONOMO = 8, 16

# Lo que dice el primer grupo de entradas, como lo entiende la consola: un
# código y su complemento en tres bits son la misma lámpara; de 8 a 15 (el pin
# 10 bajo) no hay informe.
_INFORMES = {0: "ninguna", 7: "ninguna", 1: "rojo", 6: "rojo", 2: "ámbar", 5: "ámbar",
             4: "verde", 3: "verde"}


def _segundos(nombre, valor):
    if isinstance(valor, bool) or not isinstance(valor, (int, float)):
        raise TypeError(f"{nombre} tiene que ser un número de segundos, no {valor!r}")
    if not math.isfinite(valor) or valor <= 0:
        raise ValueError(f"{nombre} tiene que ser un número de segundos mayor que 0, "
                         f"no {valor!r}")
    return float(valor)


class Lampara:
    """Una lámpara del semáforo: semaforo.rojo, semaforo.ambar o semaforo.verde."""

    def __init__(self, semaforo, nombre, bit):
        self._semaforo = semaforo
        self.nombre = nombre
        self._bit = bit

    def __repr__(self):
        return f"<Lampara {self.nombre}>"

    @property
    def encendida(self):
        """Si este programa la ha dejado encendida (lo que dice la placa es
        Semaforo.lampara())."""
        return self._semaforo._enciende(self._bit, None)

    def encender(self):
        """La enciende (en modo manual); las otras lámparas siguen como estaban."""
        self._semaforo._cambia(self, True)

    def apagar(self):
        """La apaga; las otras lámparas siguen como estaban."""
        self._semaforo._cambia(self, False)

    def parpadear(self, encendida=0.5, apagada=0.5, veces=None, fondo=True):
        """La enciende y la apaga una y otra vez: encendida y apagada son los
        segundos de cada fase, veces cuántas (None: hasta que se le mande otra
        cosa). Con fondo=True (lo normal) vuelve en el acto y parpadea en
        segundo plano; con fondo=False vuelve al acabar."""
        encendida = _segundos("encendida", encendida)
        apagada = _segundos("apagada", apagada)
        if veces is not None and (isinstance(veces, bool) or not isinstance(veces, int)):
            raise TypeError(f"veces tiene que ser un número entero o None, no {veces!r}")
        if veces is not None and veces < 1:
            raise ValueError(f"veces tiene que ser 1 o más, no {veces}")
        self._semaforo._parpadea(self, encendida, apagada, veces, fondo)


class _Parpadeo:
    """El hilo que hace parpadear una lámpara, y cómo pararlo."""

    def __init__(self, semaforo, lampara, encendida, apagada, veces):
        self.parar = threading.Event()
        self._argumentos = (semaforo, lampara, encendida, apagada, veces)
        self.hilo = threading.Thread(target=self.corre, daemon=True,
                                     name=f"parpadeo {lampara.nombre}")

    def corre(self):
        semaforo, lampara, encendida, apagada, veces = self._argumentos
        vez = 0
        try:
            while veces is None or vez < veces:
                for encender, segundos in ((True, encendida), (False, apagada)):
                    if not semaforo._pon(lampara._bit, encender, self):
                        return
                    if self.parar.wait(segundos):
                        return
                vez += 1
        except ErrorDePlaca as error:
            semaforo._error_de_fondo = error

    def detener(self):
        self.parar.set()
        if self.hilo is not threading.current_thread() and self.hilo.is_alive():
            self.hilo.join()


_abiertos = weakref.WeakSet()


@atexit.register
def _al_salir():
    # Los parpadeos acaban antes que el programa, sin dejar una secuencia de
    # registros a medias.
    for semaforo in list(_abiertos):
        semaforo.cerrar()


class Semaforo:
    """El semáforo de la placa Velantro.

    placa: «simulada» (la placa simulada, sin puerto) o «real» (el puerto
    paralelo de verdad); sin ella, lo que diga la variable de entorno
    VELANTRO_PLACA, y si no la simulada.
    """

    def __init__(self, placa=None):
        self.placa = elige_placa(placa)
        self._puerto = Puerto(self.placa)
        self.descripcion = self._puerto.descripcion  # «la placa simulada»...
        self.biblioteca = self._puerto.ruta  # la libportio.so que usa
        self._salida = 0  # lo último que este programa ha puesto en las salidas
        self._parpadeos = {}
        self._error_de_fondo = None
        self._cerrado = False
        self.rojo = Lampara(self, "rojo", 1)
        self.ambar = Lampara(self, "ámbar", 2)
        self.verde = Lampara(self, "verde", 4)
        _abiertos.add(self)

    def __repr__(self):
        return f"<Semaforo placa={self.placa!r}>"

    def __enter__(self):
        return self

    def __exit__(self, *excepcion):
        self.cerrar()

    # Los modos de la placa.

    def manual(self):
        """Modo manual: las lámparas son las que enciende el programa (al
        empezar, ninguna)."""
        self._pon_modo(_MANUAL)

    def autonomo(self):
        """Modo autónomo: la placa hace sola el ciclo verde, ámbar, rojo."""
        self._pon_modo(_AUTONOMO)

    def parar(self):
        """Para la placa: ningún modo, todo apagado."""
        self._pon_modo(0)

    def apagar(self):
        """Apaga las tres lámparas y para los parpadeos; la placa sigue en modo
        manual."""
        self._pon_modo(_MANUAL)

    # Lo que dice la placa.

    def lampara(self):
        """La lámpara encendida según la placa: «rojo», «ámbar», «verde» o
        «ninguna»; None si la placa no da informe (el pin 10 bajo)."""
        self._comprueba()
        return _INFORMES.get(self._puerto.lee_grupo(CONTROL_GRUPO1))

    def modo(self):
        """El modo según la placa: «manual», «autónomo» o «parada»; None si la
        placa no da informe. Es el segundo grupo de entradas, que la placa
        simulada da así; otra placa puede dar otra cosa."""
        self._comprueba()
        codigo = self._puerto.lee_grupo(CONTROL_GRUPO2)
        if codigo & 8:
            return None
        return {0: "parada", 1: "manual", 2: "autónomo"}.get(codigo & 3)

    def esperar(self, segundos=None):
        """Espera unos segundos, o sin ellos a que acaben los parpadeos (con
        veces=None, hasta Ctrl+C), para ver en el semáforo lo que se hace en
        segundo plano."""
        if segundos is not None:
            threading.Event().wait(_segundos("segundos", segundos))
        else:
            for parpadeo in list(self._parpadeos.values()):
                while parpadeo.hilo.is_alive():
                    parpadeo.hilo.join(0.1)
        self._comprueba()

    def cerrar(self):
        """Para los parpadeos y deja la placa como está. Después, el semáforo ya
        no se puede usar."""
        self._para_parpadeos()
        self._cerrado = True

    # Por dentro.

    def _comprueba(self):
        if self._cerrado:
            raise ErrorDePlaca("este semáforo está cerrado (cerrar()): haga otro con Semaforo()")
        error, self._error_de_fondo = self._error_de_fondo, None
        if error is not None:
            raise ErrorDePlaca(f"el parpadeo se ha parado: {error}")

    def _para_parpadeos(self, lampara=None):
        for bit in [lampara._bit] if lampara is not None else list(self._parpadeos):
            parpadeo = self._parpadeos.pop(bit, None)
            if parpadeo is not None:
                parpadeo.detener()

    def _enciende(self, bit, encender):
        """El valor de salida con la lámpara bit encendida o apagada; con
        encender None, si está encendida."""
        lamparas = self._salida & 7 if self._salida & _MANUAL else 0
        if encender is None:
            return bool(lamparas & bit)
        return _MANUAL | (lamparas | bit if encender else lamparas & ~bit)

    def _pon(self, bit, encender, parpadeo=None):
        """Enciende o apaga una lámpara; desde un parpadeo, solo si no se le ha
        mandado parar (False si se le ha mandado)."""
        with self._puerto.cerrojo:
            if parpadeo is not None and parpadeo.parar.is_set():
                return False
            salida = self._enciende(bit, encender)
            self._puerto.pon_salidas(salida)
            self._salida = salida
        return True

    def _pon_modo(self, salida):
        self._comprueba()
        self._para_parpadeos()
        with self._puerto.cerrojo:
            self._puerto.pon_salidas(salida)
            self._salida = salida

    def _cambia(self, lampara, encender):
        self._comprueba()
        self._para_parpadeos(lampara)
        self._pon(lampara._bit, encender)

    def _parpadea(self, lampara, encendida, apagada, veces, fondo):
        self._comprueba()
        self._para_parpadeos(lampara)
        parpadeo = _Parpadeo(self, lampara, encendida, apagada, veces)
        if not fondo:
            parpadeo.corre()
            self._comprueba()
            return
        self._parpadeos[lampara._bit] = parpadeo
        parpadeo.hilo.start()
