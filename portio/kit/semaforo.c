/* semaforo.c: el ciclo de un semáforo en la placa Velantro, registro a registro.
 *
 * Pone la placa en modo manual y enciende verde 3 s, ámbar 1 s y rojo 3 s;
 * luego ámbar intermitente durante 5 s, y al final lo apaga todo. Tras cada
 * escritura lee las entradas de la placa y muestra qué lámpara dice que está
 * encendida.
 *
 * Compilado así, elige la placa al arrancar:
 *     cc semaforo.c $(pkg-config --cflags --libs velantro-placa) -o semaforo
 *     ./semaforo                       # en casa, con la placa simulada
 *     VELANTRO_PLACA=real ./semaforo   # en el laboratorio, con el puerto de verdad
 * (dice al empezar qué placa usa). Con velantro-portio-simulado o
 * velantro-portio en vez de velantro-placa, el programa usa siempre esa.
 *
 * Es C99 (cc -std=c99 -pedantic también lo compila).
 *
 * Solo para pruebas automáticas: la variable de entorno SEMAFORO_ESCALA, un
 * número de 0 a 100, multiplica todas las esperas (SEMAFORO_ESCALA=0.01 hace
 * el ciclo en 0,12 s). */
/* nanosleep y struct timespec son de POSIX, no de C99. */
#define _POSIX_C_SOURCE 200809L

#include <portio.h>

#include <stdio.h>
#include <stdlib.h>
#include <time.h>

/* El registro de datos (888) lleva las salidas de la placa. */
enum { ROJO = 1, AMBAR = 2, VERDE = 4, MANUAL = 8 };

/* El registro de control (890) elige qué hace la placa con las líneas:
 *   7  toma las líneas de datos (antes de escribir el registro de datos);
 *   3  pone el primer grupo de entradas (las lámparas) en el registro de estado;
 *   1  pone el segundo grupo de entradas en el registro de estado. */
enum { CONTROL_ESCRIBIR = 7, CONTROL_GRUPO1 = 3, CONTROL_GRUPO2 = 1 };

static double escala = 1.0;

/* SEMAFORO_ESCALA, si está: un número de 0 a 100, o termina con estado 2. */
static void LeeEscala(void) {
    const char* texto = getenv("SEMAFORO_ESCALA");
    char* fin;

    if (texto == NULL) {
        return;
    }
    escala = strtod(texto, &fin);
    /* !(a <= b) también rechaza NaN. */
    if (fin == texto || *fin != '\0' || !(escala >= 0 && escala <= 100)) {
        fprintf(stderr,
                "semaforo: SEMAFORO_ESCALA tiene que ser un número de 0 a 100 (por ejemplo "
                "0.5), no «%s»\n",
                texto);
        exit(2);
    }
}

/* Si una llamada falla, la biblioteca dice por qué en PortError(). */
static void Escribe(int registro, int valor) {
    if (PortOut(registro, valor) == -1) {
        fprintf(stderr, "semaforo: no se puede escribir %d en el registro %d: %s\n", valor,
                registro, PortError());
        exit(1);
    }
}

static int Lee(int registro) {
    int valor = PortIn(registro);
    if (valor == -1) {
        fprintf(stderr, "semaforo: no se puede leer el registro %d: %s\n", registro, PortError());
        exit(1);
    }
    return valor;
}

/* Un grupo de entradas son los bits 3 a 6 del registro de estado (pines 15,
 * 13, 12 y 10). La placa indica «sí» poniendo la línea baja, así que se
 * invierten: un 1 en el grupo es una línea baja. */
static int Grupo(int estado) {
    return ~(estado >> 3) & 15;
}

/* Primer grupo: bit 0 rojo, bit 1 ámbar, bit 2 verde encendido. El bit 3
 * (pin 10) es 0 cuando la placa da un informe válido. El segundo grupo es cosa
 * de cada placa; la simulada da el modo: bit 0 manual, bit 1 autónomo, bit 2
 * placa presente. */
static const char* Lampara(int grupo) {
    switch (grupo) {
    case 0:
        return "ninguna";
    case ROJO:
        return "rojo";
    case AMBAR:
        return "ámbar";
    case VERDE:
        return "verde";
    }
    return grupo < 8 ? "varias" : "sin informe (el pin 10 está bajo)";
}

static void Espera(double segundos) {
    double s = segundos * escala;
    struct timespec t;
    t.tv_sec = (time_t)s;
    t.tv_nsec = (long)((s - (double)t.tv_sec) * 1e9);
    nanosleep(&t, NULL);
}

/* Escribe un valor de salida, lee lo que dice la placa y espera. */
static void Paso(const char* nombre, int salida, double segundos) {
    int primero, segundo;

    Escribe(PortioControlRegister, CONTROL_ESCRIBIR);
    Escribe(PortioDataRegister, salida);

    Escribe(PortioControlRegister, CONTROL_GRUPO1);
    primero = Grupo(Lee(PortioStatusRegister));
    Escribe(PortioControlRegister, CONTROL_GRUPO2);
    segundo = Grupo(Lee(PortioStatusRegister));

    printf("%s: la placa informa: %s (segundo grupo: %d)\n", nombre, Lampara(primero), segundo);
    fflush(stdout);
    Espera(segundos);
}

int main(void) {
    int i;

    LeeEscala();

    Paso("verde", MANUAL | VERDE, 3);
    Paso("ámbar", MANUAL | AMBAR, 1);
    Paso("rojo", MANUAL | ROJO, 3);
    for (i = 0; i < 5; i++) { /* 5 s: medio segundo encendido, medio apagado */
        Paso("ámbar intermitente", MANUAL | AMBAR, 0.5);
        Paso("ámbar intermitente", MANUAL, 0.5);
    }
    Paso("apagado", 0, 0);
    return 0;
}
