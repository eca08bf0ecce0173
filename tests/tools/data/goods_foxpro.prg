CREATE TABLE "/data/R&D--2002/goods.dbf" ( ;
	NAME        C(30), ;
	PRICE       N(10,2), ;
	ACTIVE      L, ;
	BIRTH_DATE  D, ;
	NOTES       M ;
	)

