"""python3 -m velantro [--real]: una demostración corta del módulo velantro.

Enciende una a una las tres lámparas, hace parpadear el ámbar en segundo plano
mientras lee lo que dice la placa, y lo para todo. Sin --real, con la placa
simulada (o la que diga VELANTRO_PLACA).
"""
import sys

from velantro import ErrorDePlaca, Semaforo


def demostracion(placa):
    with Semaforo(placa) as semaforo:
        print(f"Semáforo en {semaforo.descripcion} ({semaforo.biblioteca})")
        semaforo.manual()
        for nombre in ("verde", "ambar", "rojo"):
            lampara = getattr(semaforo, nombre)
            lampara.encender()
            print(f"{nombre}.encender(): la placa informa: {semaforo.lampara()} "
                  f"(modo {semaforo.modo()})")
            semaforo.esperar(1)
            lampara.apagar()
        semaforo.ambar.parpadear(0.4, 0.4, veces=3)
        print("ambar.parpadear(0.4, 0.4, veces=3), en segundo plano:", end="")
        semaforo.esperar(0.2)
        for _ in range(6):
            print(f" {semaforo.lampara()}", end="", flush=True)
            semaforo.esperar(0.4)
        print()
        semaforo.esperar()
        semaforo.parar()
        print(f"parar(): la placa informa: {semaforo.lampara()} (modo {semaforo.modo()})")


def main(argumentos):
    if argumentos not in ([], ["--real"]):
        print("uso: python3 -m velantro [--real]", file=sys.stderr)
        return 2
    try:
        demostracion("real" if argumentos else None)
    except (ErrorDePlaca, ValueError) as error:
        print(f"velantro: {error}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        return 130
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
