/* Example firmware for the H8/3067F: after a reset it says hello on serial channel 1
   (19200 bit/s, 8 data bits, no parity, one stop bit at a 20 MHz clock) and goes to sleep. */

#define SMR1 (*(volatile unsigned char *)0xFFFFB8)
#define BRR1 (*(volatile unsigned char *)0xFFFFB9)
#define SCR1 (*(volatile unsigned char *)0xFFFFBA)
#define TDR1 (*(volatile unsigned char *)0xFFFFBB)
#define SSR1 (*(volatile unsigned char *)0xFFFFBC)

#define SCR_TE 0x20   /* transmitter enable */
#define SSR_TDRE 0x80 /* transmit data register empty */
#define SSR_TEND 0x04 /* transmission ended */
#define BRR_19200_AT_20MHZ 32

static const char greeting[] = "Hello from the H8/3067F!\r\n";

static void sci1_init(void)
{
    volatile int wait;
    SCR1 = 0;
    SMR1 = 0; /* asynchronous, 8 data bits, no parity, 1 stop bit, clock phi */
    BRR1 = BRR_19200_AT_20MHZ;
    for (wait = 0; wait < 200; wait++) /* at least one bit time before enabling */
        ;
    SCR1 = SCR_TE;
}

static void sci1_send(char c)
{
    while (!(SSR1 & SSR_TDRE))
        ;
    TDR1 = c;
    SSR1 &= (unsigned char)~SSR_TDRE; /* starts the transmission on this SCI */
}

int main(void)
{
    const char *p;
    sci1_init();
    for (p = greeting; *p != '\0'; p++)
        sci1_send(*p);
    while (!(SSR1 & SSR_TEND))
        ;
    return 0;
}
