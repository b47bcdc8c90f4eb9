/* Example firmware for the H8/3664F: after a reset it says hello on SCI3 (19200 bit/s, 8 data
   bits, no parity, one stop bit at a 16 MHz clock) and goes to sleep. */

#define SMR (*(volatile unsigned char *)0xFFA8)
#define BRR (*(volatile unsigned char *)0xFFA9)
#define SCR3 (*(volatile unsigned char *)0xFFAA)
#define TDR (*(volatile unsigned char *)0xFFAB)
#define SSR (*(volatile unsigned char *)0xFFAC)
#define PMR1 (*(volatile unsigned char *)0xFFE0)

#define SCR3_TE 0x20   /* transmitter enable */
#define SSR_TDRE 0x80  /* transmit data register empty */
#define SSR_TEND 0x04  /* transmission ended */
#define PMR1_TXD 0x02  /* pin P22 works as TXD */
#define BRR_19200_AT_16MHZ 25

static const char greeting[] = "Hello from the H8/3664F!\r\n";

static void sci3_init(void)
{
    volatile int wait;
    SCR3 = 0;
    SMR = 0; /* asynchronous, 8 data bits, no parity, 1 stop bit, clock phi */
    BRR = BRR_19200_AT_16MHZ;
    for (wait = 0; wait < 200; wait++) /* at least one bit time before enabling */
        ;
    PMR1 |= PMR1_TXD;
    SCR3 = SCR3_TE;
}

static void sci3_send(char c)
{
    while (!(SSR & SSR_TDRE))
        ;
    TDR = c; /* writing TDR clears TDRE and starts the transmission */
}

int main(void)
{
    const char *p;
    sci3_init();
    for (p = greeting; *p != '\0'; p++)
        sci3_send(*p);
    while (!(SSR & SSR_TEND))
        ;
    return 0;
}
